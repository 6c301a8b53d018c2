// Stack heaps: memory taken in order from a chain of chunks and only given
// back all at once.
#include <algorithm>

#include "esl_handle.h"
#include "esl_heap.h"
#include "esl_heap_internal.h"

using namespace esl::heap_detail;

namespace {

constexpr SIZE_T kDefaultChunkSize = 65536;
constexpr SIZE_T kPage = 4096;
constexpr SIZE_T kAlign = 16;
constexpr DWORD kChunkHeader = static_cast<DWORD>(kStackChunkHeaderSize);
// Chunk sizes stay far below 4 GiB so that no sum below overflows a DWORD.
constexpr DWORD kMaxChunkSize = 0x7FFF0000;

constexpr SIZE_T RoundUp(SIZE_T n, SIZE_T unit) {
    return (n + unit - 1) & ~(unit - 1);
}

StackChunk* NewChunk(SIZE_T size) {
    auto* chunk = static_cast<StackChunk*>(AllocateSystemMemory(size, 0));
    if (!chunk)
        return nullptr;
    *chunk = StackChunk{};
    chunk->pData = reinterpret_cast<BYTE*>(chunk) + kChunkHeader;
    chunk->dwDataSize = static_cast<DWORD>(size - kChunkHeader);
    return chunk;
}

StackChunk* ValidStackHeap(HSTACKHEAP hHeap) {
    auto* first = reinterpret_cast<StackChunk*>(hHeap);
    return first && first->dwSignature == kStackHeapSignature ? first : nullptr;
}

void ReleaseChunksAfter(StackChunk* chunk) {
    for (StackChunk* next = chunk->pNext; next;) {
        StackChunk* after = next->pNext;
        FreeSystemMemory(next);
        next = after;
    }
    chunk->pNext = nullptr;
}

}  // namespace

HSTACKHEAP eslStackHeapCreate(DWORD dwInitSize, DWORD dwGrowSize) {
    if (dwInitSize > kMaxChunkSize || dwGrowSize > kMaxChunkSize)
        return nullptr;
    SIZE_T initSize = dwInitSize ? RoundUp(dwInitSize, kPage) : kDefaultChunkSize;
    SIZE_T growSize = dwGrowSize ? RoundUp(dwGrowSize, kPage) : kDefaultChunkSize;
    StackChunk* first = NewChunk(initSize);
    if (!first)
        return nullptr;
    first->pCurrent = first;
    first->dwGrowSize = static_cast<DWORD>(growSize);
    ::InitializeSRWLock(&first->lock);
    first->dwSignature = kStackHeapSignature;
    return reinterpret_cast<HSTACKHEAP>(first);
}

void eslStackHeapDestroy(HSTACKHEAP hHeap) {
    StackChunk* first = ValidStackHeap(hHeap);
    if (!first)
        return;
    ReleaseChunksAfter(first);
    first->dwSignature = 0;
    FreeSystemMemory(first);
}

void* eslStackHeapAllocate(HSTACKHEAP hHeap, DWORD dwSize) {
    StackChunk* first = ValidStackHeap(hHeap);
    if (!first || dwSize > kMaxChunkSize - kChunkHeader - kPage)
        return nullptr;
    // A request of 0 takes 16 bytes too, so that every pointer is distinct.
    DWORD size = static_cast<DWORD>(RoundUp(std::max<DWORD>(dwSize, 1), kAlign));
    esl::SrwExclusiveLock guard(&first->lock);
    StackChunk* current = first->pCurrent;
    if (current->dwDataSize - current->dwUsed < size) {
        SIZE_T chunkSize = RoundUp(std::max<SIZE_T>(first->dwGrowSize, size + kChunkHeader), kPage);
        StackChunk* chunk = NewChunk(chunkSize);
        if (!chunk)
            return nullptr;
        current->pNext = chunk;
        first->pCurrent = current = chunk;
    }
    void* p = current->pData + current->dwUsed;
    current->dwUsed += size;
    return p;
}

void eslStackHeapFree(HSTACKHEAP hHeap) {
    StackChunk* first = ValidStackHeap(hHeap);
    if (!first)
        return;
    esl::SrwExclusiveLock guard(&first->lock);
    ReleaseChunksAfter(first);
    first->dwUsed = 0;
    first->pCurrent = first;
}
