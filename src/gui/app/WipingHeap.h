#pragma once

namespace ludex {

// The window's process gives back no heap memory with text still in it: every block freed (or
// left behind when a block grows) is overwritten with zeros first. The toolkit copies a memo into
// buffers of its own (the memo control's text and its undo history, laid-out lines, conversions
// between UTF-8 and UTF-16, the clipboard) and frees them as it goes, out of the program's reach;
// this way none of them outlives its use. Blocks the system maps whole are returned to it whole
// and need nothing.
//
// Built into the window program and its tests by linking ludex_gui. Under AddressSanitizer its
// allocator does the same (max_free_fill_size); under ThreadSanitizer nothing does.

// Whether freed heap memory is wiped in this process.
bool HeapWipesFreedMemory() noexcept;

} // namespace ludex
