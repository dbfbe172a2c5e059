-- Attaches `dravelin lsp` to the buffer Neovim opened, through the editor's own client, and writes the
-- first non-empty diagnostics it publishes to the file DRAVELIN_NVIM_OUT, then quits.
local binary = os.getenv('DRAVELIN_BINARY')
local out = os.getenv('DRAVELIN_NVIM_OUT')

local function write(result)
  -- Written under another name first, so that the waiting test never reads half a file.
  local part = out .. '.part'
  local file = assert(io.open(part, 'w'))
  file:write(vim.json.encode(result))
  file:close()
  assert(os.rename(part, out))
end

vim.lsp.handlers['textDocument/publishDiagnostics'] = function(_, result)
  if result and result.diagnostics and #result.diagnostics > 0 then
    write(result)
    vim.schedule(function() vim.cmd('qa!') end)
  end
end

local client = vim.lsp.start_client({
  name = 'dravelin',
  cmd = { binary, 'lsp' },
  root_dir = vim.fn.getcwd(),
})
vim.lsp.buf_attach_client(0, client)
