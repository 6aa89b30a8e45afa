// Runs before emscripten's runtime in the worker's script: the module's
// standard output and standard error (the option run's lines) are collected
// per request instead of going to the console. The page sends the worker
// its WebAssembly module, compiled once for every worker of the page
// ({op: 'module', module, warm}); `warm` asks for a warm-up run first.
/* global Module */
var streams = { out: [], err: [] };
var warmUpAsked = false;
Module.print = (line) => streams.out.push(line.replace(/\r$/, ''));
Module.printErr = (line) => streams.err.push(line.replace(/\r$/, ''));
var compiledModule = new Promise((resolve) => {
  self.addEventListener('message', (event) => {
    if (event.data.op === 'module') {
      warmUpAsked = event.data.warm;
      resolve(event.data.module);
    }
  });
});
Module.instantiateWasm = (imports, receive) => {
  compiledModule.then((module) => WebAssembly.instantiate(module, imports)
    .then((instance) => receive(instance, module)))
    .catch((error) => postMessage({ op: 'crashed', text: String(error) }));
  return {};
};
