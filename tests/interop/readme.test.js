// The README's one-step installs for VS Code and Cursor must add the server the README's
// configuration block describes: a link edited by hand drifts from it without a sound.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';

const readme = readFileSync(new URL('../../README.md', import.meta.url), 'utf8');

// The first match of `pattern`'s group in the README; fails the test when it is missing.
function find(pattern) {
  const found = pattern.exec(readme);
  assert.ok(found, `the README has no ${pattern}`);
  return found[1];
}

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
