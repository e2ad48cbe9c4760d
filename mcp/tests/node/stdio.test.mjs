// SPDX-License-Identifier: Apache-2.0
// tuvel-mcp spoken to line by line over raw pipes, as a client library would
// never write: malformed lines, bad envelopes, ids of both kinds, end of input.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { MCP_BIN, logAnswer, makeDir, removeDir } from './support.mjs';

// The server on `repo` with a queue of its answer lines.
function start(repo) {
  const child = spawn(MCP_BIN, ['--repo', repo], { stdio: ['pipe', 'pipe', 'pipe'] });
  let pending = '';
  const lines = [];
  const waiting = [];
  let stderr = '';
  child.stdout.setEncoding('utf8');
  child.stdout.on('data', (chunk) => {
    pending += chunk;
    for (let nl; (nl = pending.indexOf('\n')) >= 0;) {
      lines.push(pending.slice(0, nl));
      logAnswer('mcp ?', lines.at(-1));
      pending = pending.slice(nl + 1);
    }
    while (lines.length && waiting.length) waiting.shift()(lines.shift());
  });
  child.stderr.on('data', (chunk) => { stderr += chunk; });
  const exited = once(child, 'exit');
  return {
    send: (text) => child.stdin.write(text),
    next: () => new Promise((resolve, reject) => {
      if (lines.length) return resolve(lines.shift());
      const timer = setTimeout(() => reject(new Error('no answer within 10 s')), 10000);
      waiting.push((line) => { clearTimeout(timer); resolve(line); });
    }),
    // Ends the input; the exit status, what was left unread and standard error.
    finish: async () => {
      child.stdin.end();
      const [status, signal] = await exited;
      return { status, signal, rest: lines.join('\n') + pending, stderr };
    },
  };
}

async function ask(server, message) {
  server.send(JSON.stringify(message) + '\n');
  return JSON.parse(await server.next());
}

const INITIALIZE = {
  jsonrpc: '2.0', id: 1, method: 'initialize',
  params: { protocolVersion: '2025-06-18', capabilities: {}, clientInfo: { name: 'raw', version: '0' } },
};

test('a session over raw lines survives malformed input', async () => {
  const repo = makeDir({ 'a.txt': 'a\n' });
  const server = start(repo);
  try {
    const early = await ask(server, { jsonrpc: '2.0', id: 0, method: 'tools/list' });
    assert.deepEqual([early.id, early.error.code], [0, -32600]);
    const init = await ask(server, INITIALIZE);
    assert.equal(init.jsonrpc, '2.0');
    assert.equal(init.id, 1);
    assert.equal(init.result.protocolVersion, '2025-06-18');
    assert.ok(init.result.capabilities.tools);
    assert.ok(init.result.serverInfo.name);
    server.send('{"jsonrpc":"2.0","method":"notifications/initialized"}\n');
    const again = await ask(server, { ...INITIALIZE, id: 2 });
    assert.deepEqual([again.id, again.error.code], [2, -32600]);

    // Lines that are no message at all: answered with id null.
    const malformed = [
      ['not json', -32700],
      ['{"jsonrpc":"2.0","id":2,"method":"tools/list"', -32700],
      ['[1,', -32700],
      ['{"a":1}}', -32700],
      ['', -32700],
      [Buffer.from([0x7b, 0xff, 0xfe, 0x7d]), -32700],
      ['[{"jsonrpc":"2.0","id":2,"method":"ping"}]', -32600],
      ['"ping"', -32600],
      ['{"jsonrpc":"2.0","id":true,"method":"ping"}', -32600],
      ['x'.repeat(21 << 20), -32600],
    ];
    for (const [line, code] of malformed) {
      server.send(Buffer.concat([Buffer.from(line), Buffer.from('\n')]));
      const answer = JSON.parse(await server.next());
      const shown = String(line).slice(0, 60);
      assert.equal(answer.jsonrpc, '2.0', shown);
      assert.equal(answer.id, null, shown);
      assert.equal(answer.error.code, code, shown);
      assert.equal(typeof answer.error.message, 'string', shown);
    }

    const envelopes = [
      [{ jsonrpc: '2.0', id: 3 }, -32600, 3],
      [{ jsonrpc: '1.0', id: 4, method: 'ping' }, -32600, 4],
      [{ jsonrpc: '2.0', id: 5, method: 'no/such/method' }, -32601, 5],
      [{ jsonrpc: '2.0', id: 'six', method: 'tools/call', params: { name: 'read', arguments: 7 } }, -32602, 'six'],
    ];
    for (const [message, code, id] of envelopes) {
      const answer = await ask(server, message);
      assert.equal(answer.error?.code, code, JSON.stringify(message));
      assert.ok(answer.id === id || answer.id === null, JSON.stringify(answer));
    }

    assert.deepEqual(await ask(server, { jsonrpc: '2.0', id: 'p', method: 'ping' }), { jsonrpc: '2.0', id: 'p', result: {} });
    const list = await ask(server, { jsonrpc: '2.0', id: 7, method: 'tools/list' });
    assert.equal(list.id, 7);
    assert.equal(list.result.tools.length, 10);
    const read = await ask(server, { jsonrpc: '2.0', id: 8, method: 'tools/call', params: { name: 'read', arguments: { files: [{ path: 'a.txt' }] } } });
    assert.equal(read.id, 8);
    assert.equal(read.result.structuredContent.files[0].text, 'a\n');
    assert.equal(read.result.isError ?? false, false);
  } finally {
    const end = await server.finish();
    removeDir(repo);
    assert.deepEqual(end, { status: 0, signal: null, rest: '', stderr: '' });
  }
});

test('notifications get no answer, and every answer is one line', async () => {
  const repo = makeDir();
  const server = start(repo);
  try {
    await ask(server, INITIALIZE);
    // Two notifications, then a request written in pieces with a request
    // after it in the same write: answers come for the requests only, in order.
    server.send('{"jsonrpc":"2.0","method":"notifications/initialized"}\n{"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":99}}\n{"jsonrpc":"2.0",');
    await new Promise((resolve) => setTimeout(resolve, 50));
    server.send('"id":10,"method":"ping"}\n{"jsonrpc":"2.0","id":11,"method":"ping"}\n');
    assert.deepEqual(JSON.parse(await server.next()), { jsonrpc: '2.0', id: 10, result: {} });
    assert.deepEqual(JSON.parse(await server.next()), { jsonrpc: '2.0', id: 11, result: {} });
  } finally {
    const end = await server.finish();
    removeDir(repo);
    assert.deepEqual(end, { status: 0, signal: null, rest: '', stderr: '' });
  }
});

test('an unknown protocol version is answered with one the server speaks', async () => {
  const repo = makeDir();
  const server = start(repo);
  try {
    const init = await ask(server, { ...INITIALIZE, params: { ...INITIALIZE.params, protocolVersion: '1999-01-01' } });
    assert.match(init.result.protocolVersion, /^20\d\d-\d\d-\d\d$/);
    assert.notEqual(init.result.protocolVersion, '1999-01-01');
  } finally {
    await server.finish();
    removeDir(repo);
  }
});
