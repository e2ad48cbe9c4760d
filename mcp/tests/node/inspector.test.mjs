// The MCP Inspector's command-line mode against tuvel-mcp, as the README shows it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { fileURLToPath } from 'node:url';
import { MCP_BIN, editRead, makeDir, removeDir } from './support.mjs';

const INSPECTOR = fileURLToPath(new URL('node_modules/.bin/mcp-inspector', import.meta.url));

// Runs the Inspector with a home of its own, so no catalog of the user's is read or written.
function inspector(args) {
  const home = makeDir({}, 'tuvel-mcp-inspector-home-');
  try {
    const done = spawnSync(INSPECTOR, ['--cli', ...args], { env: { ...process.env, HOME: home }, timeout: 60000 });
    return { status: done.status, stdout: done.stdout.toString(), stderr: done.stderr.toString() };
  } finally {
    removeDir(home);
  }
}

test('the Inspector lists the tools with portable schemas', () => {
  const repo = makeDir({ 'hello.txt': 'hello\nworld\n' });
  try {
    const done = inspector([MCP_BIN, '--repo', repo, '--method', 'tools/list', '--strict']);
    assert.equal(done.status, 0, done.stderr);
    const { tools } = JSON.parse(done.stdout);
    assert.deepEqual(tools.map((t) => t.name).sort(), ['apply', 'create', 'list', 'preview', 'read']);
  } finally {
    removeDir(repo);
  }
});

test('the Inspector calls read and gets the data object of tuvel-edit read', () => {
  const repo = makeDir({ 'hello.txt': 'hello\nworld\n' });
  try {
    const files = [{ path: 'hello.txt', start: 2 }];
    const done = inspector([MCP_BIN, '--repo', repo, '--method', 'tools/call', '--tool-name', 'read',
      '--tool-arg', `files=${JSON.stringify(files)}`]);
    assert.equal(done.status, 0, done.stderr);
    const result = JSON.parse(done.stdout);
    assert.deepEqual(result.structuredContent, editRead(repo, files));
    assert.deepEqual(result.content, [{ type: 'text', text: JSON.stringify(editRead(repo, files)) }]);
  } finally {
    removeDir(repo);
  }
});
