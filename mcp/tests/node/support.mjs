// SPDX-License-Identifier: Apache-2.0
// Shared fixtures: temporary repositories, an SDK client on the built server,
// and the same requests answered by tuvel-edit for comparison.
import { spawn, spawnSync } from 'node:child_process';
import { appendFileSync, mkdirSync, mkdtempSync, realpathSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { once } from 'node:events';
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

export const MCP_BIN = process.env.TUVEL_MCP;
export const EDIT_BIN = process.env.TUVEL_EDIT;
if (!MCP_BIN || !EDIT_BIN) throw new Error('TUVEL_MCP and TUVEL_EDIT must name the built programs');

// Appends one answer to the log that ctest names in TUVEL_ANSWER_LOG, in the
// form of edit/tests/support/testing.h, for schema/tests to validate after
// the tests; an answer over 1 MiB is only noted.
export function logAnswer(kind, answer) {
  const dir = process.env.TUVEL_ANSWER_LOG;
  if (!dir) return;
  mkdirSync(dir, { recursive: true });
  const bytes = Buffer.byteLength(answer);
  const record = bytes > 1 << 20 ? `skip ${kind} ${bytes}\t\n` : `${kind}\t${answer}\n`;
  appendFileSync(join(dir, `answers-node-${process.pid}.log`), record);
}

// A fresh directory holding `files` ({relative path: text}); removed by the caller's `after`.
export function makeDir(files = {}, prefix = 'tuvel-mcp-node-') {
  const dir = realpathSync(mkdtempSync(join(tmpdir(), prefix)));
  for (const [path, text] of Object.entries(files)) {
    mkdirSync(dirname(join(dir, path)), { recursive: true });
    writeFileSync(join(dir, path), text);
  }
  return dir;
}

export function removeDir(dir) {
  rmSync(dir, { recursive: true, force: true });
}

// An SDK client connected to tuvel-mcp on `repo`, with the tool list already
// fetched so that every callTool result is checked against its outputSchema.
// close() ends the session and requires a clean end: status 0, nothing on
// standard error (where a sanitizer would report).
export async function connect(repo) {
  // The whole environment, so sanitizer options reach the server.
  const transport = new StdioClientTransport({ command: MCP_BIN, args: ['--repo', repo], env: { ...process.env }, stderr: 'pipe' });
  let stderr = '';
  transport.stderr.on('data', (chunk) => { stderr += chunk; });
  const client = new Client({ name: 'tuvel-node-tests', version: '1.0.0' });
  await client.connect(transport);
  // The SDK keeps the spawned process to itself; its version is pinned.
  const child = transport._process;
  if (!child) throw new Error('the SDK transport no longer exposes its process');
  const exited = once(child, 'exit');
  const { tools } = await client.listTools();
  // Every tool result goes to the answer log too, under its tool's name.
  const callTool = client.callTool.bind(client);
  client.callTool = async (params, ...rest) => {
    const result = await callTool(params, ...rest);
    logAnswer(`mcp-result ${params.name}`, JSON.stringify(result));
    return result;
  };
  const close = async () => {
    await client.close();
    const [status, signal] = await exited;
    await new Promise((resolve) => setImmediate(resolve));
    if (status !== 0 || stderr !== '') throw new Error(`tuvel-mcp ended with ${status ?? signal}: ${stderr}`);
  };
  return { client, tools, close };
}

// The data object (or {error}) that tuvel-edit gives for the same request.
export function editRead(repo, files) {
  return editBatch(repo, [{ op: 'read', request: { files } }])[0];
}

export function editBatch(repo, requests) {
  return editAnswers(repo, requests).map((answer) => answer.value);
}

// Each answer of tuvel-edit batch as `value` (the data object, or {error})
// and `text`: those bytes exactly as the envelope wrote them, which is what a
// tool result's text item holds.
export function editAnswers(repo, requests) {
  const input = requests.map((r) => JSON.stringify(r) + '\n').join('');
  const done = spawnSync(EDIT_BIN, ['--repo', repo, 'batch'], { input });
  if (done.status !== 0) throw new Error(`tuvel-edit batch ended with ${done.status}: ${done.stderr}`);
  return done.stdout.toString().trimEnd().split('\n').map((line, i) => {
    logAnswer(`edit ${typeof requests[i]?.op === 'string' ? requests[i].op : '?'}`, line);
    const answer = JSON.parse(line);
    const text = answer.ok
      ? line.slice('{"data":'.length, line.lastIndexOf(',"ok":true,'))
      : line.slice(0, line.lastIndexOf(',"ok":false,')) + '}';
    return { value: answer.ok ? answer.data : { error: answer.error }, text };
  });
}

// What a successful tool call carries: the structured data, after checking
// that the one text item holds the same JSON.
export function data(result) {
  if (result.isError) throw new Error(`tool failed: ${JSON.stringify(result.structuredContent)}`);
  checkText(result);
  return result.structuredContent;
}

// The {code, message} of a failed tool call.
export function failure(result) {
  if (result.isError !== true) throw new Error(`tool succeeded: ${JSON.stringify(result.structuredContent)}`);
  checkText(result);
  return result.structuredContent.error;
}

function checkText(result) {
  if (result.content.length !== 1 || result.content[0].type !== 'text') {
    throw new Error(`expected one text item, got ${JSON.stringify(result.content)}`);
  }
  const text = result.content[0].text;
  const parsed = JSON.parse(text);
  if (JSON.stringify(parsed) !== JSON.stringify(result.structuredContent)) {
    throw new Error(`text item ${text} differs from structuredContent ${JSON.stringify(result.structuredContent)}`);
  }
  if (text !== JSON.stringify(parsed)) throw new Error(`text item is not compact JSON: ${text}`);
}

// Holds flock(LOCK_EX) on `path` from another process until release() is called.
export async function holdLock(path) {
  // One process opens, locks and keeps the descriptor, so ending it frees the lock.
  const holder = spawn('sh', ['-c', 'exec 9<"$1" && flock --exclusive --nonblock 9 && echo locked && exec sleep 60', 'sh', path],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  const [chunk] = await once(holder.stdout, 'data');
  if (chunk.toString() !== 'locked\n') throw new Error(`flock said ${chunk}`);
  return {
    release: async () => {
      holder.kill('SIGTERM');
      await once(holder, 'exit');
    },
  };
}
