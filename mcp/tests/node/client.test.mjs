// SPDX-License-Identifier: Apache-2.0
// tuvel-mcp driven by the official MCP TypeScript SDK client over stdio. The
// client checks every structured result against the tool's outputSchema.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, readFileSync, readdirSync, symlinkSync } from 'node:fs';
import { join } from 'node:path';
import { spawnSync } from 'node:child_process';
import { MCP_BIN, connect, data, editAnswers, editBatch, editRead, failure, holdLock, makeDir, removeDir } from './support.mjs';

const HELLO = 'hello\nworld\n';
const MAIN = 'int main(void) {\n  return 0;\n}\n';
const ZERO = '0'.repeat(64);
// Every kind of character the JSON writer treats in its own way.
const ODD = '"quoted" back\\slash\ttab\u0001\u001f\u007f caf\u00e9 \u2028 \u{1f600} </slash>\r\n';

let repo;
let session;
before(async () => {
  repo = makeDir({ 'hello.txt': HELLO, 'src/main.c': MAIN, 'odd.txt': ODD });
  session = await connect(repo);
});
after(async () => {
  await session.close();
  removeDir(repo);
});

// What tuvel-edit's envelope would carry: the data object, or {error}.
function outcome(result) {
  return result.isError ? { error: failure(result) } : data(result);
}

function call(name, args) {
  return session.client.callTool({ name, arguments: args });
}

function revisionOf(path) {
  return editRead(repo, [{ path }]).files[0].revision;
}

test('initialize names the server and offers tools', () => {
  const version = spawnSync(MCP_BIN, ['--version']).stdout.toString();
  assert.deepEqual(session.client.getServerVersion(), { name: 'tuvel-mcp', version: version.trim().split(' ')[1] });
  assert.deepEqual(session.client.getServerCapabilities(), { tools: { listChanged: false } });
  assert.ok(session.client.getInstructions());
});

test('the tool list describes every tool with schemas and annotations', () => {
  const readOnly = { readOnlyHint: true, openWorldHint: false };
  const expected = {
    apply: { readOnlyHint: false, destructiveHint: true, idempotentHint: false, openWorldHint: false },
    apply_changes: { readOnlyHint: false, destructiveHint: true, idempotentHint: false, openWorldHint: false },
    create: { readOnlyHint: false, destructiveHint: false, idempotentHint: false, openWorldHint: false },
    find: readOnly,
    list: readOnly,
    move: { readOnlyHint: false, destructiveHint: true, idempotentHint: false, openWorldHint: false },
    preview: readOnly,
    read: readOnly,
    remove: { readOnlyHint: false, destructiveHint: true, idempotentHint: false, openWorldHint: false },
    search: readOnly,
  };
  const byName = Object.fromEntries(session.tools.map((t) => [t.name, t]));
  assert.deepEqual(Object.keys(byName).sort(), Object.keys(expected));
  for (const [name, tool] of Object.entries(byName)) {
    assert.ok(tool.title && tool.description, `${name}: title and description`);
    assert.equal(tool.inputSchema.type, 'object', `${name}: inputSchema`);
    assert.equal(tool.outputSchema.type, 'object', `${name}: outputSchema`);
    assert.equal(tool.outputSchema.anyOf?.length, 2, `${name}: outputSchema is data or error`);
    assert.ok(!('$schema' in tool.inputSchema) && !('$schema' in tool.outputSchema), `${name}: no $schema`);
    for (const [hint, value] of Object.entries(expected[name])) {
      assert.equal(tool.annotations[hint] ?? false, value, `${name}: ${hint}`);
    }
  }
});

test('read answers with the data object of tuvel-edit, failures with its code and message', async () => {
  const cases = [
    [{ path: 'hello.txt' }],
    [{ path: 'hello.txt', start: 2, end: 3 }],
    [{ path: 'hello.txt' }, { path: 'src/main.c', start: 2 }],
    [{ path: 'src/main.c', start: 3, end: 3 }],
    [{ path: 'odd.txt' }],
    [{ path: 'hello.txt', start: 9 }],
    [{ path: 'missing.txt' }],
    [{ path: '../hello.txt' }],
    [{ path: '.git/config' }],
    [{ path: join(repo, 'hello.txt') }],
  ];
  const expected = editAnswers(repo, cases.map((files) => ({ op: 'read', request: { files } })));
  for (const [i, files] of cases.entries()) {
    const result = await call('read', { files });
    assert.deepEqual(outcome(result), expected[i].value, JSON.stringify(files));
    assert.equal(result.content[0].text, expected[i].text, JSON.stringify(files));
  }
});

test('preview answers like tuvel-edit apply --preview and writes nothing', async () => {
  const revision = revisionOf('hello.txt');
  const edits = [
    [{ kind: 'replace', old: 'world', new: 'there', count: 1 }],
    [{ kind: 'lines', start: 1, end: 2, text: 'goodbye\n' }, { kind: 'replace', old: 'world', new: 'all', count: 1 }],
    [{ kind: 'lines', start: 3, end: 3, text: 'tail\n' }],
    [{ kind: 'replace', old: 'o', new: '0', count: 1 }],
    [{ kind: 'replace', old: 'hello', new: 'a', count: 1 }, { kind: 'lines', start: 1, end: 2, text: '' }],
    [{ kind: 'lines', start: 5, end: 6, text: 'x' }],
  ];
  const requests = edits.map((e) => ({ path: 'hello.txt', revision, edits: e }));
  requests.push({ path: 'hello.txt', revision: ZERO, edits: edits[0] });
  requests.push({ path: 'hello.txt', revision: 'not-a-revision', edits: edits[0] });
  const expected = editAnswers(repo, requests.map((request) => ({ op: 'preview', request })));
  for (const [i, request] of requests.entries()) {
    const result = await call('preview', request);
    assert.deepEqual(outcome(result), expected[i].value, JSON.stringify(request));
    assert.equal(result.content[0].text, expected[i].text, JSON.stringify(request));
  }
  assert.equal(readFileSync(join(repo, 'hello.txt'), 'utf8'), HELLO);
});

test('apply answers like tuvel-edit apply on an identical repository', async () => {
  const mine = makeDir({ 'a.txt': 'one\ntwo\nthree\n' });
  const twin = makeDir({ 'a.txt': 'one\ntwo\nthree\n' });
  const { client, close } = await connect(mine);
  try {
    const steps = [
      [{ kind: 'replace', old: 'two', new: '2', count: 1 }],
      [{ kind: 'lines', start: 1, end: 1, text: 'zero\n' }],
      [{ kind: 'replace', old: 'absent', new: 'x', count: 1 }],
      [{ kind: 'lines', start: 1, end: 2, text: 'zero\n' }], // unchanged: nothing published
    ];
    for (const edits of steps) {
      const request = { path: 'a.txt', revision: editRead(twin, [{ path: 'a.txt' }]).files[0].revision, edits };
      const result = await client.callTool({ name: 'apply', arguments: request });
      const [expected] = editAnswers(twin, [{ op: 'apply', request }]);
      assert.deepEqual(outcome(result), expected.value, JSON.stringify(edits));
      assert.equal(result.content[0].text, expected.text, JSON.stringify(edits));
      assert.equal(readFileSync(join(mine, 'a.txt'), 'utf8'), readFileSync(join(twin, 'a.txt'), 'utf8'));
    }
    assert.equal(readFileSync(join(mine, 'a.txt'), 'utf8'), 'zero\none\n2\nthree\n');
  } finally {
    await close();
    removeDir(mine);
    removeDir(twin);
  }
});

test('an agent loop: create, read, preview, apply, then a stale apply is refused', async () => {
  const text = 'alpha\nbeta\n';
  const created = data(await call('create', { path: 'loop/new.txt', text, parents: true }));
  assert.deepEqual(created, { path: 'loop/new.txt', revision: revisionOf('loop/new.txt'), bytes: 11, durability_warning: null });
  assert.equal(readFileSync(join(repo, 'loop/new.txt'), 'utf8'), text);

  const [file] = data(await call('read', { files: [{ path: 'loop/new.txt' }] })).files;
  assert.equal(file.revision, created.revision);
  assert.equal(file.text, text);

  const request = { path: 'loop/new.txt', revision: file.revision, edits: [{ kind: 'replace', old: 'beta', new: 'gamma', count: 1 }] };
  const preview = data(await call('preview', request));
  assert.equal(preview.applied, false);
  assert.equal(readFileSync(join(repo, 'loop/new.txt'), 'utf8'), text);

  const applied = data(await call('apply', request));
  assert.equal(applied.applied, true);
  assert.equal(applied.revision_before, file.revision);
  assert.equal(applied.revision_after, preview.revision_after);
  assert.equal(applied.revision_after, revisionOf('loop/new.txt'));
  assert.equal(readFileSync(join(repo, 'loop/new.txt'), 'utf8'), 'alpha\ngamma\n');

  const stale = failure(await call('apply', request));
  assert.equal(stale.code, 'stale_revision');
  assert.deepEqual(stale, editBatch(repo, [{ op: 'apply', request }])[0].error);
  assert.equal(readFileSync(join(repo, 'loop/new.txt'), 'utf8'), 'alpha\ngamma\n');
});

test('create makes only new files inside the repository', async () => {
  const dir = makeDir({ 'kept.txt': 'kept\n' });
  const { client, close } = await connect(dir);
  const create = (args) => client.callTool({ name: 'create', arguments: args });
  try {
    assert.deepEqual(data(await create({ path: 'empty.txt', text: '' })),
      { path: 'empty.txt', revision: editRead(dir, [{ path: 'empty.txt' }]).files[0].revision, bytes: 0, durability_warning: null });
    const utf8 = 'caf\u00e9 \u2713\n';
    assert.equal(data(await create({ path: 'deep/er/u.txt', text: utf8, parents: true })).bytes, Buffer.byteLength(utf8));
    assert.equal(readFileSync(join(dir, 'deep/er/u.txt'), 'utf8'), utf8);

    const refused = [
      { path: 'kept.txt', text: 'overwritten\n' },
      { path: 'nodir/x.txt', text: 'x' },
      { path: 'nodir/x.txt', text: 'x', parents: false },
      { path: '../outside.txt', text: 'x', parents: true },
      { path: '.git/hooks/x', text: 'x', parents: true },
      { path: './dot.txt', text: 'x' },
      { path: join(dir, 'abs.txt'), text: 'x' },
      { path: 'deep', text: 'x' },
    ];
    for (const args of refused) {
      assert.equal(failure(await create(args)).code, 'io_or_request', JSON.stringify(args));
    }
    assert.equal(readFileSync(join(dir, 'kept.txt'), 'utf8'), 'kept\n');
    assert.deepEqual(readdirSync(dir).sort(), ['deep', 'empty.txt', 'kept.txt']);
    assert.ok(!existsSync(join(dir, '..', 'outside.txt')));
  } finally {
    await close();
    removeDir(dir);
  }
});

test('an apply while another process holds the writer lock is busy', async () => {
  const request = { path: 'hello.txt', revision: revisionOf('hello.txt'), edits: [{ kind: 'replace', old: 'hello', new: 'howdy', count: 1 }] };
  const lock = await holdLock(join(repo, 'hello.txt'));
  let busy;
  let expected;
  try {
    busy = failure(await call('apply', request));
    [expected] = editBatch(repo, [{ op: 'apply', request }]);
  } finally {
    await lock.release();
  }
  assert.equal(busy.code, 'busy');
  assert.deepEqual(busy, expected.error);
  assert.equal(readFileSync(join(repo, 'hello.txt'), 'utf8'), HELLO);
  // Once the lock is free the same request goes through.
  assert.equal(data(await call('apply', request)).applied, true);
  assert.equal(data(await call('apply', { ...request, revision: revisionOf('hello.txt'), edits: [{ kind: 'replace', old: 'howdy', new: 'hello', count: 1 }] })).applied, true);
});

test('symbolic links out of the repository are refused and nothing outside changes', async () => {
  const outside = makeDir({ 'secret.txt': 'secret\n' }, 'tuvel-mcp-outside-');
  const dir = makeDir({ 'in.txt': 'in\n' });
  symlinkSync(outside, join(dir, 'out'));
  symlinkSync(join(outside, 'secret.txt'), join(dir, 'secret.txt'));
  symlinkSync(join(outside, 'planted.txt'), join(dir, 'dangling.txt'));
  const { client, close } = await connect(dir);
  const tool = (name, args) => client.callTool({ name, arguments: args });
  try {
    const secretRevision = editRead(outside, [{ path: 'secret.txt' }]).files[0].revision;
    const edits = [{ kind: 'replace', old: 'secret', new: 'leaked', count: 1 }];
    const calls = [
      ['read', { files: [{ path: 'out/secret.txt' }] }],
      ['read', { files: [{ path: 'secret.txt' }] }],
      ['create', { path: 'out/new.txt', text: 'x' }],
      ['create', { path: 'out/sub/new.txt', text: 'x', parents: true }],
      ['create', { path: 'secret.txt', text: 'x' }],
      ['create', { path: 'dangling.txt', text: 'x' }],
      ['read', { files: [{ path: 'dangling.txt' }] }],
      ['apply', { path: 'secret.txt', revision: secretRevision, edits }],
      ['apply', { path: 'out/secret.txt', revision: secretRevision, edits }],
      ['preview', { path: 'out/secret.txt', revision: secretRevision, edits }],
      ['list', { path: 'out' }],
    ];
    for (const [name, args] of calls) {
      assert.equal(failure(await tool(name, args)).code, 'io_or_request', `${name} ${JSON.stringify(args)}`);
    }
    for (const files of [[{ path: 'out/secret.txt' }], [{ path: 'secret.txt' }]]) {
      assert.deepEqual(failure(await tool('read', { files })), editRead(dir, files).error);
    }
    assert.deepEqual(readdirSync(outside), ['secret.txt']);
    assert.equal(readFileSync(join(outside, 'secret.txt'), 'utf8'), 'secret\n');
  } finally {
    await close();
    removeDir(dir);
    removeDir(outside);
  }
});

test('malformed arguments are tool errors with the decoder\'s message and the session goes on', async () => {
  const edits = [{ kind: 'replace', old: 'a', new: 'b', count: 1 }];
  const cases = [
    ['read', {}],
    ['read', { files: 'hello.txt' }],
    ['read', { files: [{ start: 1 }] }],
    ['read', { files: [{ path: 'hello.txt', start: 'one' }] }],
    ['read', { files: [{ path: 'hello.txt', start: -1 }] }],
    ['read', { files: [{ path: 'hello.txt' }], extra: 1 }],
    ['preview', { path: 'hello.txt', revision: ZERO, edits: [{ kind: 'move', start: 1, end: 2 }] }],
    ['preview', { path: 'hello.txt', edits }],
    ['apply', { path: 7, revision: ZERO, edits }],
    ['apply', { path: 'hello.txt', revision: ZERO }],
    ['create', { path: 'x.txt' }],
    ['create', { path: 'x.txt', text: 'x', parents: 'yes' }],
    ['list', { path: 3 }],
  ];
  for (const [name, args] of cases) {
    const shown = `${name} ${JSON.stringify(args)}`;
    const result = await call(name, args);
    assert.equal(result.isError, true, shown);
    const error = failure(result);
    assert.equal(error.code, 'io_or_request', shown);
    assert.match(error.message, / at line 1 column \d+$/, shown);
  }
  // A tool that is not there stays a protocol error.
  await assert.rejects(call('no_such_tool', {}), (e) => e.code === -32602);
  assert.ok(!existsSync(join(repo, 'x.txt')));
  assert.equal(data(await call('read', { files: [{ path: 'hello.txt' }] })).files[0].text, HELLO);
});

test('list shows one directory sorted by name, with kinds and file sizes', async () => {
  const dir = makeDir({ 'b.txt': 'bb\n', 'a.txt': '', 'Z.md': 'z', 'sub/inner.txt': 'inner\n', '.git/HEAD': 'ref\n', '.env': 'k=v\n' });
  symlinkSync('a.txt', join(dir, 'link'));
  const { client, close } = await connect(dir);
  const list = async (args) => data(await client.callTool({ name: 'list', arguments: args }));
  try {
    assert.deepEqual(await list({}), {
      path: '.',
      entries: [
        { name: '.env', kind: 'file', size: 4 },
        { name: 'Z.md', kind: 'file', size: 1 },
        { name: 'a.txt', kind: 'file', size: 0 },
        { name: 'b.txt', kind: 'file', size: 3 },
        { name: 'link', kind: 'symlink' },
        { name: 'sub', kind: 'directory' },
      ],
      next: null,
      truncated: false,
    });
    assert.deepEqual(await list({ path: 'sub' }), { path: 'sub', entries: [{ name: 'inner.txt', kind: 'file', size: 6 }], next: null, truncated: false });
    for (const path of ['a.txt', 'link', 'missing', '../', '.git', '/']) {
      assert.equal(failure(await client.callTool({ name: 'list', arguments: { path } })).code, 'io_or_request', path);
    }
  } finally {
    await close();
    removeDir(dir);
  }
});

test('create takes up to 16 MiB of text without NUL, refused like tuvel-edit refuses such a source', async () => {
  const limit = 16 * 1024 * 1024;
  const dir = makeDir({ 'over.txt': 'a'.repeat(limit + 1), 'nul.txt': 'a\0b' });
  const { client, close } = await connect(dir);
  const create = (args) => client.callTool({ name: 'create', arguments: args });
  try {
    assert.equal(data(await create({ path: 'full.txt', text: 'a'.repeat(limit) })).bytes, limit);
    assert.equal(readFileSync(join(dir, 'full.txt')).length, limit);
    for (const [path, text, like] of [['big.txt', 'a'.repeat(limit + 1), 'over.txt'], ['zero.txt', 'a\0b', 'nul.txt']]) {
      assert.deepEqual(failure(await create({ path, text })), editRead(dir, [{ path: like }]).error, path);
      assert.ok(!existsSync(join(dir, path)), path);
    }
    assert.deepEqual(readdirSync(dir).sort(), ['full.txt', 'nul.txt', 'over.txt']);
  } finally {
    await close();
    removeDir(dir);
  }
});
