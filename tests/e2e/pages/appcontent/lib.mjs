export function twice(n) { return n * 2; }
