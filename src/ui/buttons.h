#pragma once
// The six front-panel buttons and the front-panel micro-controller exchange.
struct Works;

void* GPIO(void* arg);
