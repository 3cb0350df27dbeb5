// Reads each workflow with GitHub's own parser, as GitHub does when it is pushed, following the
// calls of local reusable workflows; writes every run: block to OUT_DIR as a bash file for
// shellcheck. Usage (from scripts/test-workflows, which loads register.mjs first):
//   node --import ./register.mjs parse.mjs ROOT OUT_DIR WORKFLOW...
// Exits 1, naming each error, when a workflow does not parse.
import { readFileSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { convertWorkflowTemplate, NoOperationTraceWriter, parseWorkflow } from '@actions/workflow-parser';
import YAML from 'yaml';

const [root, outDir, ...workflows] = process.argv.slice(2);
const files = {
  async getFileContent(ref) {
    if (!ref.path || ref.repository) throw new Error(`only local reusable workflows are read here, not ${JSON.stringify(ref)}`);
    return { name: ref.path, content: readFileSync(path.join(root, ref.path), 'utf8') };
  },
};

let failed = 0;
for (const workflow of workflows) {
  const name = path.relative(root, workflow);
  const content = readFileSync(workflow, 'utf8');
  const parsed = parseWorkflow({ name, content }, new NoOperationTraceWriter());
  // The conversion's list repeats the parser's errors and adds its own.
  const errors = new Set(parsed.context.errors.getErrors().map((error) => error.message));
  if (parsed.value) {
    const template = await convertWorkflowTemplate(parsed.context, parsed.value, files, { fetchReusableWorkflowDepth: 1 });
    for (const error of template.errors ?? []) errors.add(error.Message);
  } else {
    errors.add(`${name}: the parser gave no workflow`);
  }
  for (const error of errors) console.error(error);
  failed += errors.size;

  for (const [job, { steps = [] }] of Object.entries(YAML.parse(content).jobs ?? {})) {
    steps.forEach((step, index) => {
      if (step.run === undefined) return;
      const file = `${path.basename(name, '.yml')}-${job}-${index + 1}.sh`;
      writeFileSync(path.join(outDir, file), `#!/usr/bin/env bash\n${step.run}\n`);
    });
  }
}
process.exit(failed ? 1 : 0);
