#pragma once
// The main screen refresh loop.
struct Works;

void* timer(void* arg);
