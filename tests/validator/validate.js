// Validates each glTF or GLB file named on the command line with the Khronos glTF validator.
// Prints one line per error and exits 1 when any file has an error, 2 when one cannot be read.
'use strict';
const fs = require('fs');
const path = require('path');
const validator = require('gltf-validator');

async function check(file) {
    const bytes = new Uint8Array(fs.readFileSync(file));
    const report = await validator.validateBytes(bytes, {
        uri: path.basename(file),
        maxIssues: 50,
        externalResourceFunction: (uri) =>
            Promise.resolve(new Uint8Array(fs.readFileSync(path.join(path.dirname(file), uri)))),
    });
    const errors = report.issues.messages.filter((m) => m.severity === 0);
    for (const e of errors) console.log(`${file}: ${e.code} at ${e.pointer || e.offset}: ${e.message}`);
    console.log(`${file}: ${report.issues.numErrors} errors, ${report.issues.numWarnings} warnings`);
    return report.issues.numErrors === 0;
}

(async () => {
    let ok = true;
    for (const file of process.argv.slice(2)) {
        try {
            ok = (await check(file)) && ok;
        } catch (e) {
            console.log(`${file}: cannot validate: ${e.message || e}`);
            process.exit(2);
        }
    }
    process.exit(ok ? 0 : 1);
})();
