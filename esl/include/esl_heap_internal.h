// Record layouts of the heaps and the seams that the tests use. Not exported;
// callers outside the foundation library use esl_heap.h only.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "esl_heap.h"

namespace esl::heap_detail {

// Marks in the high nibble of a block header's word; the low 28 bits hold the
// size in 4-byte units (in use: the usable size; free: the room after the header).
constexpr DWORD kBlockMark = 0x10000000;
constexpr DWORD kHeadBlock = 0x20000000;
constexpr DWORD kLastBlock = 0x40000000;
constexpr DWORD kFreeBlock = 0x80000000;
constexpr DWORD kSizeMask = 0x0FFFFFFF;

// 8 bytes on i686; 16 on x86_64, where the back link is a 64-bit pointer.
struct BlockHeader {
    DWORD dwWord;
#ifdef _WIN64
    DWORD dwReserved;
#endif
    BlockHeader* pPrev;
};

// Every block spans a multiple of the header's size, so the memory handed out
// is 8-byte aligned on i686 and 16-byte aligned on x86_64.
constexpr size_t kGranule = sizeof(BlockHeader);
static_assert(kGranule == 2 * sizeof(void*), "a free block must hold its two list links");

// A free block's first two data words.
struct FreeLinks {
    BlockHeader* pNext;
    BlockHeader* pPrev;
};

// Free lists of a segment, by size: one list per exact size below
// kExactBins granules, then four lists per power of two.
constexpr unsigned kExactBins = 32;
constexpr unsigned kBinCount = 128;
constexpr unsigned kBinMapWords = kBinCount / 32;

constexpr DWORD kHeapSignature = 0x50414548;  // "HEAP"

// Every segment starts with this record; a heap's handle is its first
// segment. Fields marked "heap" are only kept in the first segment.
struct SegmentHeader {
    DWORD dwSignature;
    DWORD dwFlags;  // heap: the flags given at creation
    SegmentHeader* pNext;
    SegmentHeader* pPrev;
    SegmentHeader* pHeap;    // the first segment of the heap this one belongs to
    SegmentHeader* pLast;    // heap
    SegmentHeader* pSpare;   // heap: the entirely free segment kept for reuse
    SegmentHeader* pParent;  // heap: the parent heap, or null
    void* pParentBlock;      // this segment's block in the parent heap, or null
    DWORD dwGrowSize;        // heap
    DWORD dwInitSize;        // heap
    DWORD dwSegmentSize;
    DWORD dwFreeBytes;  // room in the free blocks (headers excluded)
    DWORD dwBound;      // no request larger than this fits in the segment
    LONG nRefCount;     // heap
    // heap: the segments sorted by address, to find a pointer's segment
    SegmentHeader** ppTable;
    DWORD nTableCount;
    DWORD nTableCapacity;
    CRITICAL_SECTION cs;  // heap, unless created with ESL_HEAP_NO_SERIALIZE
    DWORD binMap[kBinMapWords];
    BlockHeader* pBins[kBinCount];
};

constexpr size_t kSegmentHeaderSize = (sizeof(SegmentHeader) + 15) & ~size_t{15};

inline BlockHeader* HeadBlockOf(SegmentHeader* seg) {
    return reinterpret_cast<BlockHeader*>(reinterpret_cast<BYTE*>(seg) + kSegmentHeaderSize);
}

constexpr DWORD kStackHeapSignature = 0x4B415453;  // "STAK"

// Header of one stack-heap chunk; the handle is the first chunk. Fields marked
// "first" are only kept there.
struct StackChunk {
    StackChunk* pNext;
    StackChunk* pCurrent;  // first: the chunk allocations are taken from
    DWORD dwGrowSize;      // first
    DWORD dwSignature;     // first
    BYTE* pData;
    DWORD dwDataSize;
    DWORD dwUsed;
    SRWLOCK lock;  // first
};

constexpr size_t kStackChunkHeaderSize = (sizeof(StackChunk) + 15) & ~size_t{15};

// Where segments and chunks come from; the tests replace it to simulate a
// system that refuses memory. Null restores the default (VirtualAlloc).
using SystemAllocateFn = void* (*)(SIZE_T cb);
SystemAllocateFn SetSystemAllocator(SystemAllocateFn pfn);

// Where eslHeapDump writes its lines; null restores OutputDebugStringA.
using DebugOutputFn = void(WINAPI*)(LPCSTR psz);
DebugOutputFn SetDebugOutput(DebugOutputFn pfn);

// Memory for a new segment or chunk, asking the no-memory hook or the user
// (unless ESL_HEAP_NO_DIALOG) while the system refuses. Given back by FreeSystemMemory.
void* AllocateSystemMemory(SIZE_T cb, DWORD dwFlags);
void FreeSystemMemory(void* p);

// Walks every segment and block of a heap and checks all the links, marks,
// free lists and counts. Returns false and describes the first fault found.
bool CheckHeap(HESLHEAP hHeap, char* pszError, size_t cchError);
int SegmentCount(HESLHEAP hHeap);
// The segment holding ptr, or null.
const void* SegmentOf(HESLHEAP hHeap, const void* ptr);
// Position of the segment holding ptr in the heap's chain (0 is the first), or -1.
int SegmentIndexOf(HESLHEAP hHeap, const void* ptr);

}  // namespace esl::heap_detail
