#pragma once
// The short threads of start-up: the loading countdown, the network name and the
// confirmation of a firmware update.
#include <atomic>

// 1 while the loading countdown of LoadThread is to run.
extern std::atomic<int> startInitThread;

void* LoadThread(void* arg);
void* AggFWThread(void* arg);
void* LANInfoThread(void* arg);
