// What scripts/test-npm and scripts/bench need of processes, the same on Linux and macOS: a Mac has no timeout(1)
// or setsid(1), a bare Debian no procps. Each command starts in a process group of its own, so
// that whatever it starts can be found, and stopped, by its group.
//   node processes.js bounded SECONDS CMD [ARGS...]
//       runs CMD with this standard input and output; kills its group after SECONDS, and what
//       is left of it when CMD ends; exits with its status (128 + the signal's number when a
//       signal ended it)
//   node processes.js session [--native PATH] CMD [ARGS...]
//       sends initialize and tools/list, waits for both answers, with --native checks that the
//       process is the binary PATH with no child and stays silent on standard error, closes the
//       input, and checks that it ends with 0 and that nothing of its group is left. Says what
//       it saw; exits with 1 when any of it is wrong.
'use strict';
const { spawn, execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const procfs = fs.existsSync('/proc/self/exe');

function statusOf(code, signal) {
  return code ?? 128 + os.constants.signals[signal];
}

function killGroup(pid) {
  try { process.kill(-pid, 'SIGKILL'); } catch { /* the group is gone */ }
}

function groupAlive(pid) {
  try { process.kill(-pid, 0); return true; } catch { return false; }
}

function bounded([seconds, command, ...args]) {
  const child = spawn(command, args, { stdio: 'inherit', detached: true });
  const timer = setTimeout(() => {
    console.error(`processes.js: ${command} did not end within ${seconds} s`);
    killGroup(child.pid);
  }, Number(seconds) * 1000);
  child.on('error', (error) => { console.error(`processes.js: ${command}: ${error.message}`); process.exit(127); });
  child.on('exit', (code, signal) => {
    clearTimeout(timer);
    killGroup(child.pid);
    process.exit(statusOf(code, signal));
  });
}

// The executable a process runs, and its children's ids: /proc on Linux, ps and pgrep on macOS.
function executableOf(pid) {
  if (procfs) return fs.readlinkSync(`/proc/${pid}/exe`);
  return execFileSync('ps', ['-o', 'comm=', '-p', String(pid)], { encoding: 'utf8' }).trim();
}

function childrenOf(pid) {
  if (procfs) {
    const tasks = fs.readdirSync(`/proc/${pid}/task`);
    return tasks.map((task) => fs.readFileSync(`/proc/${pid}/task/${task}/children`, 'utf8')).join(' ').trim();
  }
  try {
    return execFileSync('pgrep', ['-P', String(pid)], { encoding: 'utf8' }).trim().replace(/\s+/g, ' ');
  } catch (error) {
    if (error.status === 1) return '';  // pgrep found none
    throw error;
  }
}

function residentOf(pid) {
  if (procfs) return /VmRSS:\s*(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'))[1];
  return execFileSync('ps', ['-o', 'rss=', '-p', String(pid)], { encoding: 'utf8' }).trim();
}

function realpathOr(file) {
  try { return fs.realpathSync(file); } catch { return file; }
}

// Waits up to `ms` for `done()` to hold, checking every 100 ms.
async function until(ms, done) {
  for (const end = Date.now() + ms; !done() && Date.now() < end;) await new Promise((r) => setTimeout(r, 100));
  return done();
}

async function session(argv) {
  let native;
  if (argv[0] === '--native') [, native, ...argv] = argv;
  const [command, ...args] = argv;
  const child = spawn(command, args, { stdio: ['pipe', 'pipe', 'pipe'], detached: true });
  let ended = null, out = '', err = '';
  child.on('exit', (code, signal) => { ended = statusOf(code, signal); });
  child.on('error', (error) => { err += error.message; ended = 127; });
  child.stdout.setEncoding('utf8').on('data', (chunk) => { out += chunk; });
  child.stderr.setEncoding('utf8').on('data', (chunk) => { err += chunk; });
  child.stdin.on('error', () => {});  // a server that is gone shows below
  const initialize = { protocolVersion: '2025-06-18', capabilities: {}, clientInfo: { name: 'test-npm', version: '1' } };
  child.stdin.write(`${JSON.stringify({ jsonrpc: '2.0', id: 1, method: 'initialize', params: initialize })}\n` +
    `${JSON.stringify({ jsonrpc: '2.0', id: 2, method: 'tools/list' })}\n`);

  const faults = [];
  const lines = () => out.split('\n').slice(0, -1);
  if (!await until(60000, () => lines().length >= 2 || ended !== null)) faults.push('no two answers within 60 s');
  const [answer, listed] = lines().map((line) => { try { return JSON.parse(line); } catch { return {}; } });
  if (!answer?.result?.serverInfo) faults.push(`initialize was answered ${JSON.stringify(answer)}`);
  if (listed?.result?.tools?.length !== 10) faults.push(`tools/list was answered ${JSON.stringify(listed)?.slice(0, 200)}`);

  let seen = '';
  if (native && ended !== null) faults.push('ended before its input closed');
  if (native && ended === null) {
    const executable = executableOf(child.pid), children = childrenOf(child.pid);
    seen = `, ${residentOf(child.pid)} kB resident`;
    // ps may name the program alone (p_comm) rather than give its path; a shell shows as sh.
    const same = executable.includes('/') ? realpathOr(executable) === realpathOr(native)
      : executable === path.basename(native);
    if (!same || children !== '') {
      faults.push(`process ${child.pid} runs '${executable}' with children '${children}', not ${native} alone`);
    }
  }
  child.stdin.end();
  if (!await until(20000, () => ended !== null)) faults.push('did not end within 20 s of its input closing');
  if (ended !== null && ended !== 0) faults.push(`ended with ${ended}`);
  if (!await until(10000, () => !groupAlive(child.pid))) faults.push('left processes of its group running');
  killGroup(child.pid);
  // npm may warn on its own; the bin alone has nothing to say.
  if (native && err !== '') faults.push(`wrote to standard error: ${err.trim()}`);
  else if (faults.length && err !== '') faults.push(`standard error: ${err.trim()}`);
  if (faults.length) {
    console.error(faults.join('; '));
    process.exit(1);
  }
  console.log(`served initialize and tools/list, ended with 0 and left nothing running${seen}`);
}

const [what, ...rest] = process.argv.slice(2);
if (what === 'bounded') bounded(rest);
else if (what === 'session') session(rest).catch((error) => { console.error(error.stack); process.exit(1); });
else { console.error('usage: processes.js bounded SECONDS CMD... | session [--native PATH] CMD...'); process.exit(2); }
