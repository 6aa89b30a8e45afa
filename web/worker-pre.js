// Runs before emscripten's runtime in the worker's script: the module's
// standard output and standard error (the option run's lines) are collected
// per request instead of going to the console.
/* global Module */
var streams = { out: [], err: [] };
Module.print = (line) => streams.out.push(line.replace(/\r$/, ''));
Module.printErr = (line) => streams.err.push(line.replace(/\r$/, ''));
