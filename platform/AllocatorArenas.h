#pragma once
// How the C library's allocator spreads the process's threads over its arenas.

namespace platform {

// One arena for every thread. By default each thread that allocates at the same time as
// another gets an arena of its own, and memory freed in an arena stays with it: a feed parsed
// on the background refresh thread (a tree some ten times the feed's size) keeps that much
// resident for good beside the main thread's, though the two parses never overlap. The app's
// threads allocate little and rarely at once, so sharing one arena costs them nothing
// measurable. Call first thing in main, before any thread starts.
void useOneAllocatorArena();

}  // namespace platform
