#!/usr/bin/env node
console.log("control ran");
