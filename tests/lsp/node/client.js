'use strict';
// Drives `dravelin lsp` as a subprocess through the protocol library editors build on.
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { Writable } = require('node:stream');
const rpc = require('vscode-languageserver-protocol/node');

const BINARY = process.env.DRAVELIN_BINARY;
if (!BINARY) throw new Error('DRAVELIN_BINARY must name the dravelin binary');

// Lets the client library write as usual while holding the bytes back, so that a burst of messages reaches
// the server in one write, as it would if the server had been busy while they were sent.
class HeldWrites extends Writable {
  constructor(target) {
    super();
    this.target = target;
    this.held = null;
  }
  hold() {
    this.held = [];
  }
  release() {
    const bytes = Buffer.concat(this.held);
    this.held = null;
    this.target.write(bytes);
  }
  _write(chunk, encoding, done) {
    if (this.held) {
      this.held.push(Buffer.from(chunk, encoding));
      done();
    } else {
      this.target.write(chunk, encoding, done);
    }
  }
}

function tempDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'dravelin-lsp-'));
}

function fileUri(p) {
  return 'file://' + p.split('/').map(encodeURIComponent).join('/');
}

class Server {
  constructor({ env = {}, cwd } = {}) {
    this.child = spawn(BINARY, ['lsp'], {
      stdio: ['pipe', 'pipe', 'pipe'],
      env: { ...process.env, DRAVELIN_PATH: '', ...env },
      cwd,
    });
    this.stderr = '';
    this.child.stderr.on('data', (d) => (this.stderr += d));
    this.exited = new Promise((resolve) => this.child.on('exit', (code, signal) => resolve({ code, signal })));
    this.input = new HeldWrites(this.child.stdin);
    this.connection = rpc.createProtocolConnection(
      new rpc.StreamMessageReader(this.child.stdout),
      new rpc.StreamMessageWriter(this.input),
    );
    this.published = [];
    this.listeners = new Set();
    this.connection.onNotification('textDocument/publishDiagnostics', (params) => {
      this.published.push(params);
      for (const listener of this.listeners) listener();
    });
    this.connection.onError(() => {});
    this.connection.onClose(() => {});
    this.connection.listen();
  }

  async initialize({ encodings, folders, rootUri = null, options } = {}) {
    const capabilities = encodings ? { general: { positionEncodings: encodings } } : {};
    const params = { processId: process.pid, rootUri, capabilities };
    if (folders) params.workspaceFolders = folders.map((p) => ({ uri: fileUri(p), name: path.basename(p) }));
    if (options !== undefined) params.initializationOptions = options;
    const result = await this.connection.sendRequest('initialize', params);
    await this.connection.sendNotification('initialized', {});
    return result;
  }

  request(method, params) {
    return this.connection.sendRequest(method, params);
  }

  notify(method, params) {
    return this.connection.sendNotification(method, params);
  }

  open(uri, text, version = 1) {
    return this.notify('textDocument/didOpen', { textDocument: { uri, languageId: 'dravelin', version, text } });
  }

  change(uri, version, contentChanges) {
    return this.notify('textDocument/didChange', { textDocument: { uri, version }, contentChanges });
  }

  // The publications for a URI so far.
  publicationsFor(uri) {
    return this.published.filter((p) => p.uri === uri);
  }

  // The first publication (from `from` on) that satisfies the test, waiting up to the deadline.
  waitForPublication(test, { from = 0, ms = 15000 } = {}) {
    return new Promise((resolve, reject) => {
      const check = () => {
        for (let i = from; i < this.published.length; ++i) {
          if (test(this.published[i])) {
            this.listeners.delete(check);
            clearTimeout(timer);
            resolve(this.published[i]);
            return true;
          }
        }
        return false;
      };
      const timer = setTimeout(() => {
        this.listeners.delete(check);
        reject(new Error('no matching publication within ' + ms + ' ms; got ' + JSON.stringify(this.published)));
      }, ms);
      if (!check()) this.listeners.add(check);
    });
  }

  // Waits until everything the server sent before answering a fresh request has arrived. A request read in
  // the same batch as earlier notifications is answered before that batch's publications: call this only once
  // the batch in question has published something.
  async barrier() {
    await this.request('textDocument/foldingRange', { textDocument: { uri: 'untitled:barrier' } });
  }

  async sendHeld(send) {
    this.input.hold();
    await send();
    this.input.release();
  }

  async shutdownAndExit() {
    await this.request('shutdown');
    await this.notify('exit');
    return this.finished();
  }

  // The exit of the process, or a failure when it has not ended within the deadline.
  finished(ms = 10000) {
    let timer;
    const deadline = new Promise((_, reject) => {
      timer = setTimeout(() => {
        this.child.kill('SIGKILL');
        reject(new Error('the server did not end within ' + ms + ' ms'));
      }, ms);
    });
    return Promise.race([this.exited, deadline]).finally(() => clearTimeout(timer));
  }

  kill() {
    this.connection.dispose();
    this.child.kill('SIGKILL');
  }
}

module.exports = { Server, tempDir, fileUri, rpc };
