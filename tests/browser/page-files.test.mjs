// The page's script files are joined into one script element, yet each must
// stand alone: one function scope that compiles by itself and reaches the
// other files only through the object they share (see helpers.js), so that a
// scope opened in one file and closed in another, or a name left outside any
// scope, is caught before it couples two files without saying so.
import {test} from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';
import {repoRoot} from './harness.mjs';

test('every page script is one scope of its own that compiles alone', () => {
  const folder = path.join(repoRoot, 'src/server/page');
  const files = fs.readdirSync(folder).filter((name) => name.endsWith('.js'));
  assert.ok(files.length >= 10, files.join(' '));
  for (const file of files) {
    const text = fs.readFileSync(path.join(folder, file), 'utf8');
    assert.doesNotThrow(() => new vm.Script(text, {filename: file}), file);
    const code = text.replace(/^(\/\/.*\n)*/, '');
    const opening = file === 'helpers.js' ? "const quillmoor = {};\n(function (qm) {\n'use strict';\n" : "(function (qm) {\n'use strict';\n";
    assert.ok(code.startsWith(opening), `${file} does not open its scope right after its top comment`);
    assert.ok(code.endsWith('\n})(quillmoor);\n'), `${file} does not end by closing its scope`);
  }
});
