import { twice } from './lib.mjs';
console.log('crossorigin module: ' + twice(21));
