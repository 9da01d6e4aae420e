#pragma once
// The FT-817 style serial CAT follower.
struct Works;

void* CatSerial(void* arg);
