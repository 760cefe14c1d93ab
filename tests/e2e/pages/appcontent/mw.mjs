import { twice } from './lib.mjs';
onmessage = function (e) { postMessage(twice(e.data)); };
