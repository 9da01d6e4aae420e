#pragma once
// The USB keyboard reader.
struct Works;

void* keyb(void* arg);
