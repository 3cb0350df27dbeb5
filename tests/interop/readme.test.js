// What the README tells users must stay true of the server it ships with: a link, a block or a
// table edited by hand drifts from the code without a sound.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, readFileSync } from 'node:fs';
import path from 'node:path';
import { REQUEST_TIMEOUT_MS, binDir } from './harness.js';

const root = new URL('../../', import.meta.url);
const read = (file) => readFileSync(new URL(file, root), 'utf8');
const readme = read('README.md');

// The first match of `pattern`'s group in the README; fails the test when it is missing.
function find(pattern) {
  const found = pattern.exec(readme);
  assert.ok(found, `the README has no ${pattern}`);
  return found[1];
}

// The text of a Markdown file outside its fenced blocks, where a "#" is a comment, not a heading.
const prose = (text) => text.replace(/^```[^]*?^```$/gm, '');
const fenced = (text, language) => [...text.matchAll(new RegExp('^```' + language + '\\n([^]*?)^```$', 'gm'))].map((m) => m[1]);

// The anchor GitHub gives a heading: lower case, punctuation dropped, spaces become hyphens.
const slug = (heading) => heading.trim().toLowerCase().replace(/[^\p{L}\p{M}\p{N}\p{Pc}\- ]/gu, '').replace(/ /g, '-');
const anchorsOf = (text) => new Set([...prose(text).matchAll(/^#{1,6} (.+)$/gm)].map((m) => slug(m[1])));

test('the VS Code and Cursor install links carry the configuration block of Install', () => {
  const install = readme.slice(readme.indexOf('\n## Install\n'));
  const block = JSON.parse(/```json\n([^]*?)```/.exec(install)[1]);
  const [[name, entry], ...others] = Object.entries(block.mcpServers);
  assert.deepEqual(others, []);

  // VS Code: the URL-encoded JSON of the entry with its name, in the link and in `code --add-mcp`.
  const vscode = find(/\]\((vscode:mcp\/install\?[^)\s]+)\)/);
  assert.deepEqual(JSON.parse(decodeURIComponent(vscode.slice(vscode.indexOf('?') + 1))), { name, ...entry });
  assert.deepEqual(JSON.parse(find(/code --add-mcp '([^']+)'/)), { name, ...entry });

  // Cursor: the name apart, and the entry as URL-encoded base64 of its JSON.
  const cursor = new URL(find(/\]\((cursor:\/\/anysphere\.cursor-deeplink\/mcp\/install\?[^)\s]+)\)/)).searchParams;
  assert.equal(cursor.get('name'), name);
  assert.deepEqual(JSON.parse(Buffer.from(cursor.get('config'), 'base64').toString('utf8')), entry);
});

test("every client's block starts the server the standard block starts, with a timeout above the server's", () => {
  const [standard, ...blocks] = fenced(readme, 'json').map((text) => JSON.parse(text));
  const [[name, entry]] = Object.entries(standard.mcpServers);
  assert.ok(blocks.length >= 3, 'the clients have their own blocks');
  for (const block of blocks) {
    const servers = block.mcpServers ?? block.servers;
    assert.deepEqual(Object.keys(servers), [name]);
    const { command, args, env } = servers[name];
    assert.deepEqual(env, entry.env);
    // Either the standard npx command, or a fixed install's absolute path with nothing after it.
    if (command !== entry.command) assert.deepEqual([command.startsWith('/'), args], [true, []], command);
    else assert.deepEqual(args, entry.args);
  }

  // A client that gives up before the server does shows its own timeout rather than the answer.
  const idle = Number(/idleLimit = std::chrono::seconds\((\d+)\)/.exec(read('src/bridge/automation.hpp'))[1]);
  const stated = [...readme.matchAll(/(\d+)\s+seconds/g)].map((m) => Number(m[1]));
  assert.ok(stated.length > 0 && stated.every((seconds) => seconds === idle), `the README says ${stated}, the server waits ${idle} s`);
  const tables = fenced(readme, 'toml');
  assert.ok(tables.length >= 2, 'Codex and Xcode have their blocks');
  for (const table of tables) {
    assert.match(table, /^\[mcp_servers\.tarnwick\]$/m);
    assert.match(table, new RegExp(`^env = \\{ TARNWICK_PORT = "${entry.env.TARNWICK_PORT}" \\}$`, 'm'));
    assert.ok(Number(/^tool_timeout_sec = (\d+)$/m.exec(table)?.[1]) > idle, table);
  }
});

test('the tools tables name every tool with the title and hints the server lists', () => {
  const meta = { _meta: { 'io.modelcontextprotocol/protocolVersion': '2026-07-28', 'io.modelcontextprotocol/clientCapabilities': {} } };
  const run = spawnSync(path.join(binDir, 'tarnwick-mcp'), [], {
    input: JSON.stringify({ jsonrpc: '2.0', id: 1, method: 'tools/list', params: meta }) + '\n',
    encoding: 'utf8', timeout: REQUEST_TIMEOUT_MS, killSignal: 'SIGKILL',
  });
  assert.equal(run.status, 0, run.stderr);
  const served = JSON.parse(run.stdout).result.tools;

  const section = readme.slice(readme.indexOf('\n## The tools\n'), readme.indexOf('\n## Configuration\n'));
  const rows = (header) => {
    const start = section.indexOf(header);
    assert.ok(start >= 0, header);
    const lines = section.slice(start).split('\n').slice(2);
    return lines.slice(0, lines.findIndex((line) => !line.startsWith('|')))
      .map((line) => line.split('|').slice(1, -1).map((cell) => cell.trim()));
  };
  const titles = new Map(rows('| tool | title |').map(([name, title]) => [name, title]));
  assert.deepEqual([...titles.keys()], served.map((tool) => tool.name), 'every tool, in the order clients see');

  const yes = (cell) => ({ yes: true, no: false })[cell.split(':')[0]];
  const hints = new Map();
  for (const [names, ...cells] of rows('| tool | reads only |')) {
    for (const name of names.split(', ')) hints.set(name, cells.map(yes));
  }
  for (const { name, title, annotations: a } of served) {
    assert.equal(titles.get(name), title, name);
    assert.deepEqual(hints.get(name), [a.readOnlyHint, a.destructiveHint, a.idempotentHint, a.openWorldHint], name);
  }
  assert.equal(hints.size, served.length);
});

test('every link between the documents, and the demo\'s last word, leads to a heading that exists', () => {
  const documents = ['README.md', 'CONTRIBUTING.md', 'RELEASING.md', 'PRIVACY.md', 'CHANGELOG.md'];
  for (const document of documents) {
    for (const [, target] of prose(read(document)).matchAll(/\]\(([^)\s]+)\)/g)) {
      if (/^[a-z][a-z0-9+.-]*:/.test(target)) continue;
      const [file, anchor] = target.split('#');
      const into = file || document;
      assert.ok(existsSync(new URL(into, root)), `${document} links to ${into}, which is missing`);
      if (anchor !== undefined) assert.ok(anchorsOf(read(into)).has(anchor), `${document} links to ${target}, no heading`);
    }
  }

  const section = /The section \\"([^"\\]+)\\" of/.exec(read('scripts/demo'));
  assert.ok(section, 'scripts/demo names the README section to go to next');
  assert.ok(anchorsOf(readme).has(slug(section[1])), `the README has no section "${section[1]}"`);
});
