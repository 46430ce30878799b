// Prints the Khronos glTF validator's report on one .gltf or .glb file:
//   node tests/validate_gltf.js FILE
// The first line counts the issues by severity; each further line is one issue:
//   errors=E warnings=W infos=I hints=H
//   SEVERITY CODE POINTER MESSAGE
// Exit status: 0 when the file has no errors, 1 when it has some, 2 when it cannot be checked.
'use strict';

const fs = require('fs');
const path = require('path');
const validator = require('gltf-validator');

const severities = ['error', 'warning', 'info', 'hint'];

async function main(file) {
    const bytes = new Uint8Array(fs.readFileSync(file));
    const folder = path.dirname(file);
    const report = await validator.validateBytes(bytes, {
        uri: path.basename(file),
        maxIssues: 0,
        // Buffers and images that a .gltf names are read beside it.
        externalResourceFunction: (uri) =>
            new Promise((resolve, reject) => {
                fs.readFile(path.join(folder, decodeURIComponent(uri)), (error, data) =>
                    error ? reject(error.toString()) : resolve(new Uint8Array(data)));
            }),
    });
    const issues = report.issues;
    console.log(`errors=${issues.numErrors} warnings=${issues.numWarnings} infos=${issues.numInfos} hints=${issues.numHints}`);
    for (const message of issues.messages)
        console.log(`${severities[message.severity] || message.severity} ${message.code} ${message.pointer || '-'} ${message.message}`);
    return issues.numErrors === 0 ? 0 : 1;
}

if (process.argv.length !== 3) {
    console.error('usage: node validate_gltf.js FILE');
    process.exit(2);
}
main(process.argv[2]).then(
    (status) => process.exit(status),
    (error) => {
        console.error(`${process.argv[2]}: ${error}`);
        process.exit(2);
    });
