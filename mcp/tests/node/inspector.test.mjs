// SPDX-License-Identifier: Apache-2.0
// The MCP Inspector's command-line mode against tuvel-mcp: the commands of the
// README's transcript, run for real and compared with it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { MCP_BIN, editRead, makeDir, removeDir } from './support.mjs';

// The Inspector as the README runs it: through the script that gives it the
// Node.js it needs, whatever node is first on PATH.
const INSPECTOR = fileURLToPath(new URL('../../../scripts/mcp-inspector', import.meta.url));
const README = readFileSync(new URL('../../../README.md', import.meta.url), 'utf8').split('\n');
// The README's commands run from the repository root on its demo repository.
const SHOWN = 'scripts/mcp-inspector --cli build/mcp/tuvel-mcp --repo demo';

// What the README shows after "$ {SHOWN} {rest}", up to the next command or the end of the block.
function transcript(rest) {
  const at = README.indexOf(`$ ${SHOWN} ${rest}`);
  assert.ok(at >= 0, `the README shows ${rest}`);
  const end = README.findIndex((line, i) => i > at && (line.startsWith('$ ') || line === '```'));
  return README.slice(at + 1, end);
}

// Runs the Inspector on a fresh demo repository, with a home of its own so
// no catalog of the user's is read or written.
function inspector(args) {
  const demo = makeDir({ 'hello.txt': 'hello\nworld\n' });
  const home = makeDir({}, 'tuvel-mcp-inspector-home-');
  try {
    const done = spawnSync(INSPECTOR, ['--cli', MCP_BIN, '--repo', demo, ...args],
      { env: { ...process.env, HOME: home }, timeout: 60000 });
    return { status: done.status, stdout: done.stdout.toString(), stderr: done.stderr.toString(), demo };
  } finally {
    removeDir(home);
  }
}

test('the Inspector lists the tools as the README shows', () => {
  const done = inspector(['--method', 'tools/list']);
  removeDir(done.demo);
  assert.equal(done.status, 0, done.stderr);
  const { tools } = JSON.parse(done.stdout);
  assert.deepEqual(tools.map((t) => t.name), ['read', 'preview', 'apply', 'create', 'list', 'search', 'find', 'move', 'remove', 'apply_changes']);
  // Shortened lines carry a "…"; every other line is real output, in order.
  const real = (done.stderr + done.stdout).split('\n');
  let from = 0;
  for (const line of transcript('--method tools/list').filter((l) => !l.includes('…'))) {
    const at = real.indexOf(line, from);
    assert.ok(at >= 0, `the README line ${JSON.stringify(line)} is output, in order`);
    from = at + 1;
  }
});

// --strict prints every portability error and warning of every tool's schemas
// on standard error (and still ends with 0), so any output there is a fault.
test('the Inspector finds nothing to report in any tool schema with --strict', () => {
  const done = inspector(['--method', 'tools/list', '--strict']);
  removeDir(done.demo);
  assert.equal(done.status, 0, done.stderr);
  assert.equal(done.stderr, '');
  assert.ok(JSON.parse(done.stdout).tools.length > 0);
});

test('the Inspector calls read and prints the README transcript byte for byte', () => {
  const files = [{ path: 'hello.txt', start: 2 }];
  const done = inspector(['--method', 'tools/call', '--tool-name', 'read', '--tool-arg', `files=${JSON.stringify(files)}`]);
  try {
    assert.equal(done.status, 0, done.stderr);
    assert.equal(done.stdout, transcript(`--method tools/call --tool-name read --tool-arg 'files=${JSON.stringify(files)}'`).join('\n') + '\n');
    const result = JSON.parse(done.stdout);
    assert.deepEqual(result.structuredContent, editRead(done.demo, files));
    assert.equal(readFileSync(join(done.demo, 'hello.txt'), 'utf8'), 'hello\nworld\n');
  } finally {
    removeDir(done.demo);
  }
});
