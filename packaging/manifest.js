// Writes the MCP bundle's manifest.json for a freshly built tarnwick-mcp and prints its version.
// Usage: node packaging/manifest.js BINARY PLATFORM ACCOUNT OUTPUT   (PLATFORM: darwin or linux)
// The version and the tools are asked of the binary itself, so the manifest cannot drift from
// the server it ships with. ACCOUNT is the GitHub account whose repository the links name.
import { spawnSync } from 'node:child_process';
import { writeFileSync } from 'node:fs';

const [binary, platform, account, output] = process.argv.slice(2);
if (!binary || !['darwin', 'linux'].includes(platform) || !account || !output) {
  console.error('usage: node packaging/manifest.js BINARY darwin|linux ACCOUNT OUTPUT');
  process.exit(2);
}

// Where the bundle keeps the server and its launcher; the client fills in ${__dirname} with the
// unpacked folder.
const entryPoint = 'server/tarnwick-mcp';
const launcher = 'server/launch.sh';
const repository = `https://github.com/${account}/tarnwick-mcp`;

// The answers of `binary` to `requests` (one line each), by id. Throws unless it answers each,
// exits with 0 and stays silent on standard error, all within the bound.
function ask(requests) {
  const lines = requests.map((request) => JSON.stringify({ jsonrpc: '2.0', ...request }) + '\n').join('');
  const run = spawnSync(binary, [], { input: lines, encoding: 'utf8', timeout: 10000, killSignal: 'SIGKILL' });
  if (run.error) throw run.error;
  if (run.status !== 0 || run.stderr !== '') {
    throw new Error(`${binary} ended with status ${run.status} (signal ${run.signal}): ${run.stderr}`);
  }
  const answers = new Map(run.stdout.split('\n').filter(Boolean).map((line) => {
    const answer = JSON.parse(line);
    return [answer.id, answer];
  }));
  return requests.filter((request) => 'id' in request).map((request) => {
    const answer = answers.get(request.id);
    if (!answer?.result) throw new Error(`no result for ${request.method}: ${JSON.stringify(answer)}`);
    return answer.result;
  });
}

const [initialized, listed] = ask([
  { id: 1, method: 'initialize', params: {
    protocolVersion: '2025-06-18', capabilities: {}, clientInfo: { name: 'tarnwick-bundle', version: '1' } } },
  { method: 'notifications/initialized' },
  { id: 2, method: 'tools/list' },
]);
const { version } = initialized.serverInfo;

const manifest = {
  // 0.3 rather than the bundler's newest: it has all this bundle uses and more clients read it.
  manifest_version: '0.3',
  name: 'tarnwick-mcp',
  display_name: 'Tarnwick',
  version,
  description: 'Slow down and break the network of single iOS Simulator and Mac apps with the Tarnwick app.',
  long_description:
    'Lets an assistant, or an agent that runs an app\'s tests, drive the Tarnwick app: slow down or break the '
    + 'network of one iOS Simulator app or Mac app while everything else stays at full speed, relaunch a '
    + 'simulator app with request monitoring, read its recent HTTP requests, and fail or fake single endpoints.'
    + '\n\nNeeds the Tarnwick app running on this Mac with Allow Automation turned on (menu bar icon › '
    + 'Automation). The server talks only to the app\'s automation endpoint on 127.0.0.1, at the port set in '
    + 'this extension\'s settings.',
  author: { name: 'The tarnwick-mcp developers' },
  repository: { type: 'git', url: repository },
  homepage: repository,
  documentation: `${repository}#readme`,
  support: `${repository}/issues`,
  icon: 'icon.png',
  server: {
    type: 'binary',
    // The server itself: the bundler asks only for a path here, and mcp_config says how to start.
    entry_point: entryPoint,
    // Claude Desktop unpacks a bundle with no file executable, so the command is a program of the
    // system, and sh needs only to read the launcher, which makes the server executable again.
    mcp_config: {
      command: '/bin/sh',
      args: [`\${__dirname}/${launcher}`],
      env: { TARNWICK_PORT: '${user_config.port}' },
    },
  },
  tools: listed.tools.map(({ name, description }) => ({ name, description })),
  keywords: ['mcp', 'model-context-protocol', 'ios-simulator', 'network', 'testing'],
  license: 'MIT',
  privacy_policies: [`${repository}/blob/main/PRIVACY.md`],
  compatibility: { platforms: [platform] },
  user_config: {
    port: {
      type: 'number',
      title: 'Automation port',
      description: 'The port of the Tarnwick app\'s automation endpoint. The app shows it in its menu bar '
        + 'icon › Automation, where Allow Automation is turned on.',
      default: 47300,
      min: 1,
      max: 65535,
      required: false,
    },
  },
};

writeFileSync(output, JSON.stringify(manifest, null, 2) + '\n');
console.log(version);
