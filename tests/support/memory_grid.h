#pragma once
// The in-memory sequence grid, under the name the tests know it by.
#include "sequence/memory_grid.h"

using MemoryGrid = tintrava::MemoryGrid;
