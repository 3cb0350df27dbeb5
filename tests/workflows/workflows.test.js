// The workflows keep the rules of rules.js, and each fault planted in a copy of them is refused.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import test from 'node:test';
import { problems } from './rules.js';

const read = (file) => readFileSync(new URL(`../../${file}`, import.meta.url), 'utf8');
const texts = {
  'ci.yml': read('.github/workflows/ci.yml'),
  'release.yml': read('.github/workflows/release.yml'),
  'scripts/setup': read('scripts/setup'),
};

test('the workflows keep every rule', () => {
  assert.deepEqual(problems(texts), []);
});

const faults = [
  ['an action pinned by tag', 'ci.yml', 'pin',
    (text) => text.replace(/(actions\/checkout@)[0-9a-f]{40} # (v[\d.]+)/, '$1$2')],
  ['contents: write at the top', 'ci.yml', 'permissions',
    (text) => text.replace(/^permissions:\n {2}contents: read$/m, 'permissions:\n  contents: write')],
  ['an event\'s text inside run:', 'ci.yml', 'expression',
    (text) => text.replace('run: .ci/run', 'run: echo "${{ github.event.head_commit.message }}" && .ci/run')],
  ['the Intel job removed', 'ci.yml', 'macs',
    (text) => text.replace(/^ {2}mac-intel:\n(?:(?: {4}.*)?\n)*/m, '')],
  ['the GitHub release no longer waiting for the Macs', 'release.yml', 'order',
    (text) => text.replace(/^( {2}github:\n {4}needs:) ci$/m, '$1 tag')],
  ['the Intel job on the image\'s Node.js and npm', 'ci.yml', 'node',
    (text) => text.replace(/^( {2}mac-intel:\n(?: {4}.*\n)*?) {6}- uses: actions\/setup-node@.*\n(?: {8}.*\n)*/m, '$1')],
  ['llvm brewed on macOS', 'scripts/setup', 'llvm',
    (text) => text.replace(/^( {2}formulae=\(nlohmann-json googletest cpp-httplib)\)$/m, '$1 llvm)')],
  ['the Intel job without the benchmark', 'ci.yml', 'bench',
    (text) => text.replace(/^ {6}- run: scripts\/bench .*bench-mac-intel\.json.*\n {8}timeout-minutes: \d+\n/m, '')],
  ['the arm64 benchmark\'s table kept out of the summary', 'ci.yml', 'summary',
    (text) => text.replace(/(scripts\/bench .*bench-mac-arm64\.json) --markdown "\$GITHUB_STEP_SUMMARY"/, '$1')],
  ['both benchmarks keeping their figures under one name', 'ci.yml', 'artifact',
    (text) => text.replace('name: bench-mac-intel', 'name: bench-mac-arm64')],
];
for (const [name, file, rule, plant] of faults) {
  test(`refused: ${name}`, () => {
    const planted = plant(texts[file]);
    assert.notEqual(planted, texts[file], 'the fault could not be planted: the workflow changed shape');
    const found = problems({ ...texts, [file]: planted });
    assert.ok(found.some((problem) => problem.startsWith(`${rule}:`)), `no ${rule} problem among: ${found.join('; ')}`);
  });
}
