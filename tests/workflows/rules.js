// What the workflows must hold to, read from their text: problems(texts), with texts the
// workflows by file name ({ 'ci.yml': ..., 'release.yml': ... }) and the scripts they lean on by
// path ({ 'scripts/setup': ... }), returns every breach as "RULE: WHERE: WHAT", and [] when
// there is none.
import { accessSync, constants } from 'node:fs';
import { fileURLToPath } from 'node:url';
import YAML from 'yaml';

const root = fileURLToPath(new URL('../../', import.meta.url));
const pinned = /^\s*-?\s*uses: [\w.-]+\/[\w./-]+@[0-9a-f]{40} # v\d+(\.\d+)*$/;
// Exactly these jobs may write, each only what it needs.
const publishing = {
  github: { contents: 'write' },
  npm: { contents: 'read', 'id-token': 'write' },
  registry: { contents: 'read', 'id-token': 'write' },
};
const macs = { arm64: /^macos-(1[5-9]|[2-9]\d|latest)$/, intel: /^macos-15-intel$/ };
const macChecks = ['scripts/setup --all', 'scripts/test', 'scripts/check-system-libcurl build/bin/tarnwick-mcp', 'scripts/test-mac-release'];
// The steps that run the npm stage, or npm on its own, and so need the one pinned Node.js; the
// stage's also need the pinned npm first.
const npmStages = ['.ci/run', 'scripts/test-mac-release'];
const npmUsers = [...npmStages, 'scripts/publish-npm'];

const uploads = (job) => (job.steps ?? []).filter((step) => /^actions\/upload-artifact@/.test(step.uses ?? ''));
const runs = (job) => (job.steps ?? []).filter((step) => step.run !== undefined).map((step) => step.run.trim());
const writes = (permissions) => JSON.stringify(permissions ?? {}).includes('write');

function isScript(line) {
  const script = /^(scripts\/[\w.-]+|\.ci\/run)(\s|$)/.exec(line.trim())?.[1];
  try {
    accessSync(root + script, constants.X_OK);
    return true;
  } catch {
    return false;
  }
}

// A Mac job of ci.yml measures the server once it is tested: a quick benchmark within a step's
// time limit, its table added to the job's summary, its JSON kept under a name of its own.
function checkBench(where, job, artifactNames, say) {
  const steps = job.steps ?? [];
  const tested = steps.findIndex((step) => step.run?.trim() === 'scripts/test');
  const at = steps.findIndex((step, index) => index > tested && /^scripts\/bench(\s|$)/.test(step.run?.trim() ?? ''));
  if (tested < 0 || at < 0 || steps[at].if) return say('bench', where, 'does not run scripts/bench after scripts/test');
  const step = steps[at];
  const words = step.run.trim().split(/\s+/);
  const after = (flag) => (words.includes(flag) ? words[words.indexOf(flag) + 1] : undefined);
  if (!words.includes('--quick')) say('bench', where, 'the benchmark is not a --quick run');
  if (!(step['timeout-minutes'] > 0 && step['timeout-minutes'] <= 15)) say('bench', where, 'the benchmark step has no timeout-minutes of 15 or less');
  if (after('--markdown') !== '"$GITHUB_STEP_SUMMARY"') say('summary', where, 'the benchmark does not append its table to "$GITHUB_STEP_SUMMARY"');
  const kept = uploads({ steps: steps.slice(at + 1) }).find((upload) => upload.with?.path === after('--json'));
  if (!after('--json') || !kept) say('artifact', where, "the benchmark's --json is not uploaded after it");
  else if (artifactNames.filter((name) => name === kept.with.name).length !== 1) say('artifact', where, `the artifact name ${kept.with.name} is not its own`);
}

// Every job "FILE/JOB" that must end before JOB of FILE starts; a call of a reusable workflow
// ends when all the jobs of that workflow have.
function waitsFor(workflows, file, id, seen = new Set()) {
  for (const need of [workflows[file].jobs[id]?.needs ?? []].flat()) {
    if (seen.has(`${file}/${need}`) || !workflows[file].jobs[need]) continue;
    seen.add(`${file}/${need}`);
    const called = /^\.\/\.github\/workflows\/(.+)$/.exec(workflows[file].jobs[need].uses ?? '')?.[1];
    for (const inner of Object.keys(workflows[called]?.jobs ?? {})) seen.add(`${called}/${inner}`);
    waitsFor(workflows, file, need, seen);
  }
  return seen;
}

export function problems(texts) {
  const found = [];
  const say = (rule, where, what) => found.push(`${rule}: ${where}: ${what}`);
  const workflows = {};
  for (const [file, text] of Object.entries(texts).filter(([name]) => name.endsWith('.yml'))) {
    workflows[file] = YAML.parse(text);
    text.split('\n').forEach((line, index) => {
      const uses = /^\s*-?\s*uses:\s*(\S+)/.exec(line)?.[1];
      if (uses && !uses.startsWith('./') && !pinned.test(line)) say('pin', `${file}:${index + 1}`, `${uses} is not a commit with its version beside it`);
    });
  }

  const macJobs = { arm64: [], intel: [] };
  const nodeVersions = new Set();
  for (const [file, workflow] of Object.entries(workflows)) {
    if (JSON.stringify(workflow.permissions) !== '{"contents":"read"}') say('permissions', file, 'the top level grants more or less than contents: read');
    for (const [id, job] of Object.entries(workflow.jobs)) {
      const where = `${file} ${id}`;
      const allowed = file === 'release.yml' ? publishing[id] : undefined;
      if (allowed ? JSON.stringify(job.permissions) !== JSON.stringify(allowed) : writes(job.permissions)) {
        say('permissions', where, `grants ${JSON.stringify(job.permissions)}, not ${JSON.stringify(allowed ?? 'nothing more')}`);
      }
      if (job.steps && typeof job['timeout-minutes'] !== 'number') say('timeout', where, 'no timeout-minutes');
      for (const step of job.steps ?? []) {
        if (/^actions\/checkout@/.test(step.uses) && step.with?.['persist-credentials'] !== false) say('checkout', where, 'persist-credentials is not false');
        if (step['continue-on-error']) say('errors', where, 'a step whose failure fails nothing');
        if (step.run === undefined) continue;
        if (step.run.includes('${{')) say('expression', where, `an expression inside run: ${step.run.trim()}`);
        for (const line of step.run.split('\n').filter((text) => text.trim())) {
          if (!isScript(line)) say('script', where, `"${line.trim()}" calls no executable script of the repository`);
        }
      }
      if (runs(job).some((line) => npmUsers.includes(line))) {
        const at = (test) => job.steps.findIndex(test);
        const ran = (lines) => (step) => lines.includes(step.run?.trim());
        const node = job.steps.find((step) => /^actions\/setup-node@/.test(step.uses ?? ''));
        if (!node || job.steps.indexOf(node) > at((step) => step.run !== undefined)) {
          say('node', where, 'runs npm without actions/setup-node before its first run: step');
        } else if (!/^\d+\.\d+\.\d+$/.test(String(node.with?.['node-version']))) {
          say('node', where, `setup-node's node-version ${node.with?.['node-version']} is no exact version`);
        } else {
          nodeVersions.add(String(node.with['node-version']));
        }
        const npm = at(ran(['scripts/setup-npm']));
        const stage = at(ran(npmStages));
        if (stage >= 0 && (npm < 0 || npm > stage)) say('node', where, 'runs the npm stage without scripts/setup-npm before it');
      }
      for (const [kind, label] of Object.entries(macs)) {
        const checked = macChecks.every((check) => runs(job).includes(check)) && !job.if && !job['continue-on-error'];
        if (label.test(job['runs-on']) && checked) macJobs[kind].push(`${file}/${id}`);
      }
    }
  }

  if (nodeVersions.size > 1) say('node', 'workflows', `the jobs that run npm use different Node.js versions: ${[...nodeVersions].join(', ')}`);
  // LLVM is for fuzzing, which no Mac job does, and its current formula has no Intel bottle.
  const darwin = /^if \[\[ "\$\(uname\)" == "Darwin" \]\]; then\n[^]*?^fi$/m.exec(texts['scripts/setup'] ?? '')?.[0];
  if (!darwin) say('llvm', 'scripts/setup', 'no macOS branch found');
  else if (/\bllvm\b/.test(darwin.replace(/(^|\s)#.*$/gm, ''))) say('llvm', 'scripts/setup', 'brews llvm on macOS');

  const { 'ci.yml': ci, 'release.yml': release } = workflows;
  const artifactNames = Object.values(ci.jobs).flatMap((job) => uploads(job).map((upload) => upload.with?.name));
  for (const [id, job] of Object.entries(ci.jobs)) {
    if (Object.values(macs).some((label) => label.test(job['runs-on']))) checkBench(`ci.yml ${id}`, job, artifactNames, say);
  }
  for (const kind of Object.keys(macs)) {
    if (!macJobs[kind].some((key) => key.startsWith('ci.yml/'))) say('macs', 'ci.yml', `no ${kind} Mac job runs ${macChecks.join(', ')}`);
  }
  const linux = Object.values(ci.jobs).find((job) => job.container === 'debian:12' && runs(job).includes('.ci/run'));
  if (!linux) say('linux', 'ci.yml', 'no job runs .ci/run in debian:12');

  if (JSON.stringify(release.on) !== '{"push":{"tags":["v*"]}}') say('trigger', 'release.yml', 'runs on something other than a pushed v* tag');
  const first = ['scripts/check-release-tag "$TAG"', 'scripts/publish-registry check'];
  if (!first.every((check) => runs(release.jobs.tag ?? {}).includes(check))) say('order', 'release.yml tag', `does not run ${first.join(' and ')}`);
  for (const id of Object.keys(release.jobs).filter((id) => id !== 'tag')) {
    if (!waitsFor(workflows, 'release.yml', id).has('release.yml/tag')) say('order', `release.yml ${id}`, 'starts before the tag is checked');
  }
  // Each publisher waits for both Macs and for the publishers before it.
  let before = [macJobs.arm64, macJobs.intel];
  for (const [id, script] of [['github', 'scripts/publish-github "$TAG" "$REPO"'], ['npm', 'scripts/publish-npm'], ['registry', 'scripts/publish-registry publish']]) {
    const job = release.jobs[id] ?? {};
    const waits = waitsFor(workflows, 'release.yml', id);
    if (!runs(job).includes(script) || job.if) say('order', `release.yml ${id}`, `does not run ${script} unconditionally`);
    for (const keys of before) {
      if (!keys.some((key) => waits.has(key))) say('order', `release.yml ${id}`, `does not wait for ${keys.join(' or ') || 'a Mac job'}`);
    }
    before = [...before, [`release.yml/${id}`]];
  }
  return found;
}
