-- Attaches `dravelin lsp` to the buffer Neovim opened and, once the server has published the buffer's
-- diagnostics, asks for hover, definition, references and completion the way the editor's own commands do
-- (the cursor placed on a word, the position made by Neovim), then writes the answers to DRAVELIN_NVIM_OUT
-- and quits.
local binary = os.getenv('DRAVELIN_BINARY')
local out = os.getenv('DRAVELIN_NVIM_OUT')
local started = false

local function write(result)
  -- Written under another name first, so that the waiting test never reads half a file.
  local part = out .. '.part'
  local file = assert(io.open(part, 'w'))
  file:write(vim.json.encode(result))
  file:close()
  assert(os.rename(part, out))
end

-- Puts the cursor on the first match of a literal text, `skip` characters into it.
local function cursor_on(text, skip)
  vim.fn.cursor(1, 1)
  assert(vim.fn.search('\\V' .. vim.fn.escape(text, '\\'), 'c') > 0, text)
  local row, col = unpack(vim.api.nvim_win_get_cursor(0))
  vim.api.nvim_win_set_cursor(0, { row, col + (skip or 0) })
end

local function request(method, params)
  local responses = vim.lsp.buf_request_sync(0, method, params, 10000)
  for _, response in pairs(responses or {}) do
    if response.err then return { error = response.err.message } end
    return response.result
  end
  return { error = 'no response' }
end

local function run()
  local results = {}
  cursor_on('classify(ticket')
  results.hover = request('textDocument/hover', vim.lsp.util.make_position_params())
  cursor_on('tidy(req')
  results.definition = request('textDocument/definition', vim.lsp.util.make_position_params())
  cursor_on('bug "a')
  local params = vim.lsp.util.make_position_params()
  params.context = { includeDeclaration = true }
  results.references = request('textDocument/references', params)
  -- A new line, then what may follow its dot: the cursor stands on the `k` typed after it (in normal mode it
  -- cannot stand past the end of the line).
  local last = vim.api.nvim_buf_line_count(0)
  vim.api.nvim_buf_set_lines(0, last, last, false, { '  x = r.k' })
  vim.api.nvim_win_set_cursor(0, { last + 1, 8 })
  results.completion = request('textDocument/completion', vim.lsp.util.make_position_params())
  write(results)
  vim.cmd('qa!')
end

vim.lsp.handlers['textDocument/publishDiagnostics'] = function()
  if started then return end
  started = true
  vim.schedule(run)
end

local client = vim.lsp.start_client({
  name = 'dravelin',
  cmd = { binary, 'lsp' },
  root_dir = vim.fn.getcwd(),
  -- Each change goes to the server as it is made, before the request that follows it.
  flags = { debounce_text_changes = 0 },
})
vim.lsp.buf_attach_client(0, client)
