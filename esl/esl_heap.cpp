// The foundation library's heaps. A heap is a chain of segments; each segment
// holds a run of blocks that starts with its head block (never handed out) and
// keeps its free blocks in size-sorted lists. Blocks are cut from the end of a
// free block and joined with free neighbours when freed.
#include "esl_heap.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "esl_error.h"
#include "esl_handle.h"
#include "esl_heap_internal.h"

namespace esl::heap_detail {
namespace {

constexpr DWORD kPublicFlags = ESL_HEAP_ZERO_INIT | ESL_HEAP_NO_SERIALIZE | ESL_HEAP_NO_DIALOG;
// Internal: the caller handles a refusal itself (a child heap asking its parent).
constexpr DWORD kNoRetry = 0x80000000;

constexpr DWORD kDefaultSize = 65536;
constexpr DWORD kPage = 4096;
constexpr DWORD kHdr = static_cast<DWORD>(kGranule);
// The size field counts 4-byte units in 28 bits, so no block reaches 1 GiB.
constexpr DWORD kMaxRequest = 0x3FF00000;
constexpr DWORD kMaxSegmentSize = 0x3FFF0000;
// Smallest free block worth splitting off (room after its header).
constexpr DWORD kMinRemainder = 16;
// What a segment needs besides one block's room: its record, the head block
// that stays behind, and the block's header.
constexpr DWORD kSegmentOverhead = static_cast<DWORD>(kSegmentHeaderSize) + kHdr + kMinRemainder + kHdr;
constexpr DWORD kOwnSegmentExtra = std::max<DWORD>(128, kSegmentOverhead);
constexpr DWORD kNewSegmentExtra = std::max<DWORD>(168, kSegmentOverhead);

static_assert(kExactBins == 32, "BinOf starts the power-of-two lists at 2^5 granules");
static_assert(kSegmentHeaderSize % 16 == 0, "blocks must start 16-byte aligned");

const char kNoMemoryText[] =
    "メモリ確保に失敗しました。\n他のアプリケーションで使用しているメモリを解放してください。\nメモリ確保を再実行します"
    "か？";
const char kNoMemoryTitle[] = "◆ ESL メモリアロケーション ◆";
const char kDumpTitle[] = "ESL の解放されていないメモリブロックがあります\n";

// Constant-initialised: the global heap may be wanted during static initialisation.
std::atomic<SegmentHeader*> gGlobalHeap{nullptr};
std::atomic<DWORD> gGlobalFlags{0};
std::atomic<PFUNC_ESL_NO_MEMORY> gNoMemoryHook{nullptr};
std::atomic<SystemAllocateFn> gSystemAllocator{nullptr};
std::atomic<DebugOutputFn> gDebugOutput{nullptr};

constexpr DWORD RoundUp(DWORD n, DWORD unit) {
    return (n + unit - 1) & ~(unit - 1);
}
inline BYTE* Bytes(void* p) {
    return static_cast<BYTE*>(p);
}
inline uintptr_t Address(const void* p) {
    return reinterpret_cast<uintptr_t>(p);
}

//--- blocks

inline DWORD SizeOf(const BlockHeader* b) {
    return (b->dwWord & kSizeMask) << 2;
}
inline DWORD RoomOf(const BlockHeader* b) {
    return RoundUp(SizeOf(b), kHdr);
}
inline bool IsFree(const BlockHeader* b) {
    return (b->dwWord & kFreeBlock) != 0;
}
inline bool IsLast(const BlockHeader* b) {
    return (b->dwWord & kLastBlock) != 0;
}
inline BlockHeader* After(BlockHeader* b) {
    return reinterpret_cast<BlockHeader*>(Bytes(b) + kHdr + RoomOf(b));
}
inline FreeLinks* Links(BlockHeader* b) {
    return reinterpret_cast<FreeLinks*>(b + 1);
}
inline DWORD Word(DWORD bytes, DWORD marks) {
    return kBlockMark | (bytes >> 2) | marks;
}
inline BYTE* SegmentEnd(SegmentHeader* seg) {
    return Bytes(seg) + seg->dwSegmentSize;
}

// The most a block can hand out: the head block always keeps a little room.
inline DWORD CapacityOf(const BlockHeader* b) {
    DWORD room = SizeOf(b);
    if (!(b->dwWord & kHeadBlock))
        return room;
    return room >= kHdr + kMinRemainder ? room - kHdr - kMinRemainder : 0;
}

inline bool Fits(const BlockHeader* b, DWORD need) {
    return CapacityOf(b) >= need;
}

//--- free lists

inline unsigned BinOf(DWORD room) {
    DWORD units = room / kHdr;
    if (units < kExactBins)
        return units;
    unsigned log = 31 - __builtin_clz(units);
    return kExactBins + (log - 5) * 4 + ((units >> (log - 2)) & 3);
}

inline unsigned NextBin(const SegmentHeader* seg, unsigned from) {
    for (unsigned w = from >> 5; w < kBinMapWords; ++w) {
        DWORD bits = seg->binMap[w];
        if (w == from >> 5)
            bits &= ~0u << (from & 31);
        if (bits)
            return w * 32 + __builtin_ctz(bits);
    }
    return kBinCount;
}

void LinkFree(SegmentHeader* seg, BlockHeader* b) {
    unsigned bin = BinOf(SizeOf(b));
    FreeLinks* links = Links(b);
    links->pPrev = nullptr;
    links->pNext = seg->pBins[bin];
    if (links->pNext)
        Links(links->pNext)->pPrev = b;
    seg->pBins[bin] = b;
    seg->binMap[bin >> 5] |= 1u << (bin & 31);
}

// Before the block's size changes: its list is found by its size.
void UnlinkFree(SegmentHeader* seg, BlockHeader* b) {
    FreeLinks* links = Links(b);
    if (links->pPrev) {
        Links(links->pPrev)->pNext = links->pNext;
    } else {
        unsigned bin = BinOf(SizeOf(b));
        seg->pBins[bin] = links->pNext;
        if (!links->pNext)
            seg->binMap[bin >> 5] &= ~(1u << (bin & 31));
    }
    if (links->pNext)
        Links(links->pNext)->pPrev = links->pPrev;
}

// First fit along the lists in size order: the request's own list is walked,
// every longer list holds only blocks that are large enough.
BlockHeader* FindFit(SegmentHeader* seg, DWORD need) {
    unsigned bin = BinOf(need);
    for (BlockHeader* b = seg->pBins[bin]; b; b = Links(b)->pNext) {
        if (Fits(b, need))
            return b;
    }
    for (bin = NextBin(seg, bin + 1); bin < kBinCount; bin = NextBin(seg, bin + 1)) {
        for (BlockHeader* b = seg->pBins[bin]; b; b = Links(b)->pNext) {
            if (Fits(b, need))  // only a head block can fail here
                return b;
        }
    }
    return nullptr;
}

// Hands out `need` bytes of room from free block b, cut from its end when the
// rest is worth keeping (always from a head block). `size` is the usable size.
BlockHeader* Carve(SegmentHeader* seg, BlockHeader* b, DWORD need, DWORD size) {
    DWORD room = SizeOf(b);
    DWORD last = b->dwWord & kLastBlock;
    if ((b->dwWord & kHeadBlock) || room >= need + kHdr + kMinRemainder) {
        DWORD rest = room - need - kHdr;
        bool moves = BinOf(rest) != BinOf(room);
        if (moves)
            UnlinkFree(seg, b);
        b->dwWord = Word(rest, b->dwWord & (kHeadBlock | kFreeBlock));
        if (moves)
            LinkFree(seg, b);
        auto* used = reinterpret_cast<BlockHeader*>(Bytes(b) + kHdr + rest);
        used->dwWord = Word(size, last);
        used->pPrev = b;
        if (!last)
            After(used)->pPrev = used;
        seg->dwFreeBytes -= need + kHdr;
        return used;
    }
    UnlinkFree(seg, b);
    // On x86_64 the room may be a granule more than the rounded request; the
    // size field must still lead to the next block.
    b->dwWord = Word(RoundUp(size, kHdr) == room ? size : room, last);
    seg->dwFreeBytes -= room;
    return b;
}

// Frees block b, joining it with free neighbours.
void Release(SegmentHeader* seg, BlockHeader* b) {
    DWORD room = RoomOf(b);
    DWORD last = b->dwWord & kLastBlock;
    BlockHeader* next = last ? nullptr : After(b);
    seg->dwFreeBytes += room;
    // A header joined into a neighbour is wiped: a stale one could pass for
    // a block in use when the same pointer is freed again.
    BlockHeader* prev = b->pPrev;
    if (prev && IsFree(prev)) {
        UnlinkFree(seg, prev);
        room += SizeOf(prev) + kHdr;
        seg->dwFreeBytes += kHdr;
        b->dwWord = 0;
        b = prev;
    }
    DWORD marks = (b->dwWord & kHeadBlock) | kFreeBlock;
    if (next && IsFree(next)) {
        UnlinkFree(seg, next);
        room += kHdr + SizeOf(next);
        seg->dwFreeBytes += kHdr;
        last = next->dwWord & kLastBlock;
        BlockHeader* joined = next;
        next = last ? nullptr : After(next);
        joined->dwWord = 0;
    }
    b->dwWord = Word(room, marks | last);
    if (next)
        next->pPrev = b;
    LinkFree(seg, b);
    seg->dwBound = std::max(seg->dwBound, room);
}

//--- segments

void InitSegment(SegmentHeader* seg, SegmentHeader* heap, DWORD size, void* parentBlock) {
    std::memset(static_cast<void*>(seg), 0, kSegmentHeaderSize);
    seg->pHeap = heap;
    seg->dwSegmentSize = size;
    seg->pParentBlock = parentBlock;
    BlockHeader* head = HeadBlockOf(seg);
    DWORD room = size - static_cast<DWORD>(kSegmentHeaderSize) - kHdr;
    head->dwWord = Word(room, kHeadBlock | kFreeBlock | kLastBlock);
    head->pPrev = nullptr;
    LinkFree(seg, head);
    seg->dwFreeBytes = room;
    seg->dwBound = room;
    seg->dwSignature = kHeapSignature;
}

// The segment holding address p, by binary search of the heap's table.
SegmentHeader* TableFind(SegmentHeader* heap, const void* p) {
    DWORD lo = 0, hi = heap->nTableCount;
    while (lo < hi) {
        DWORD mid = (lo + hi) / 2;
        if (Address(heap->ppTable[mid]) <= Address(p))
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == 0)
        return nullptr;
    SegmentHeader* seg = heap->ppTable[lo - 1];
    return Address(p) < Address(SegmentEnd(seg)) ? seg : nullptr;
}

bool ReserveTable(SegmentHeader* heap) {
    if (heap->nTableCount < heap->nTableCapacity)
        return true;
    DWORD capacity = heap->nTableCapacity ? heap->nTableCapacity * 2 : 8;
    SIZE_T cb = capacity * sizeof(SegmentHeader*);
    void* table = heap->ppTable ? ::HeapReAlloc(::GetProcessHeap(), 0, heap->ppTable, cb)
                                : ::HeapAlloc(::GetProcessHeap(), 0, cb);
    if (!table)
        return false;
    heap->ppTable = static_cast<SegmentHeader**>(table);
    heap->nTableCapacity = capacity;
    return true;
}

void TableInsert(SegmentHeader* heap, SegmentHeader* seg) {
    SegmentHeader** table = heap->ppTable;
    DWORD i = heap->nTableCount;
    for (; i > 0 && Address(table[i - 1]) > Address(seg); --i)
        table[i] = table[i - 1];
    table[i] = seg;
    ++heap->nTableCount;
}

void TableRemove(SegmentHeader* heap, SegmentHeader* seg) {
    SegmentHeader** table = heap->ppTable;
    SegmentHeader** end = table + heap->nTableCount;
    SegmentHeader** at = std::find(table, end, seg);
    if (at == end)
        return;
    std::copy(at + 1, end, at);
    --heap->nTableCount;
}

void ChainAfter(SegmentHeader* heap, SegmentHeader* at, SegmentHeader* seg) {
    seg->pPrev = at;
    seg->pNext = at->pNext;
    if (at->pNext)
        at->pNext->pPrev = seg;
    else
        heap->pLast = seg;
    at->pNext = seg;
}

void Unchain(SegmentHeader* heap, SegmentHeader* seg) {
    seg->pPrev->pNext = seg->pNext;
    if (seg->pNext)
        seg->pNext->pPrev = seg->pPrev;
    else
        heap->pLast = seg->pPrev;
    seg->pNext = seg->pPrev = nullptr;
}

bool AskToRetry(int retry, DWORD flags) {
    if (PFUNC_ESL_NO_MEMORY hook = gNoMemoryHook.load()) {
        int answer = hook(retry);
        return answer == 0 || answer == IDYES;
    }
    if (flags & ESL_HEAP_NO_DIALOG)
        return false;
    return ::MessageBoxA(nullptr, kNoMemoryText, kNoMemoryTitle, MB_YESNO) == IDYES;
}

inline DWORD EffectiveFlags(const SegmentHeader* heap, DWORD flags) {
    return flags | ((heap->dwFlags | gGlobalFlags.load(std::memory_order_relaxed)) & kPublicFlags);
}

// The heap's lock, unless the heap or the call asks for no serialising.
class HeapGuard : public esl::CriticalSectionLock {
public:
    HeapGuard(SegmentHeader* heap, DWORD flags)
        : esl::CriticalSectionLock(((heap->dwFlags | flags) & ESL_HEAP_NO_SERIALIZE) ? nullptr : &heap->cs) {}
};

SegmentHeader* ValidHeap(HESLHEAP hHeap) {
    auto* heap = reinterpret_cast<SegmentHeader*>(hHeap);
    return heap && heap->dwSignature == kHeapSignature && heap->pHeap == heap ? heap : nullptr;
}

SegmentHeader* GlobalHeap(bool create);

// Heap 0 is the global heap, created on first use.
SegmentHeader* HeapOf(HESLHEAP hHeap) {
    return hHeap ? ValidHeap(hHeap) : GlobalHeap(true);
}
// The same, for calls that have nothing to do on a global heap not yet made.
SegmentHeader* ExistingHeapOf(HESLHEAP hHeap) {
    return ValidHeap(hHeap ? hHeap : reinterpret_cast<HESLHEAP>(gGlobalHeap.load()));
}

// The block in use whose memory is p, or null for anything else: a pointer
// outside the heap's segments, misaligned, or whose header and neighbours do
// not form a block in use.
BlockHeader* BlockInUse(SegmentHeader* heap, const void* p, SegmentHeader** pSeg) {
    if (!p || (Address(p) & (kGranule - 1)))
        return nullptr;
    SegmentHeader* seg = TableFind(heap, p);
    if (!seg)
        return nullptr;
    BlockHeader* head = HeadBlockOf(seg);
    auto* b = static_cast<BlockHeader*>(const_cast<void*>(p)) - 1;
    if (Address(b) <= Address(head))
        return nullptr;
    DWORD word = b->dwWord;
    if ((word & (kBlockMark | kHeadBlock | kFreeBlock)) != kBlockMark)
        return nullptr;
    uintptr_t after = Address(b) + kHdr + RoomOf(b);
    uintptr_t end = Address(SegmentEnd(seg));
    if (after > end || ((word & kLastBlock) != 0) != (after == end))
        return nullptr;
    BlockHeader* prev = b->pPrev;
    if (Address(prev) < Address(head) || Address(prev) >= Address(b) || (Address(prev) - Address(head)) % kGranule != 0)
        return nullptr;
    if (Address(prev) + kHdr + RoomOf(prev) != Address(b))
        return nullptr;
    if (!(word & kLastBlock) && reinterpret_cast<BlockHeader*>(after)->pPrev != b)
        return nullptr;
    *pSeg = seg;
    return b;
}

void* AllocateIn(SegmentHeader* heap, DWORD size, DWORD flags);
void FreeIn(SegmentHeader* heap, void* p);

// Memory for a segment, from the parent heap or the system, asking while refused.
void* AcquireMemory(SegmentHeader* parent, DWORD size, DWORD flags) {
    if (!parent)
        return AllocateSystemMemory(size, flags);
    for (int retry = 0;; ++retry) {
        if (void* p = AllocateIn(parent, size, ESL_HEAP_NO_DIALOG | kNoRetry))
            return p;
        if ((flags & kNoRetry) || !AskToRetry(retry, flags))
            return nullptr;
    }
}

void GiveBack(SegmentHeader* parent, void* p) {
    if (parent)
        FreeIn(parent, p);
    else
        FreeSystemMemory(p);
}

SegmentHeader* NewSegment(SegmentHeader* heap, DWORD size, DWORD flags) {
    if (size > kMaxSegmentSize || !ReserveTable(heap))
        return nullptr;
    void* memory = AcquireMemory(heap->pParent, size, flags);
    if (!memory)
        return nullptr;
    auto* seg = static_cast<SegmentHeader*>(memory);
    InitSegment(seg, heap, size, heap->pParent ? memory : nullptr);
    TableInsert(heap, seg);
    return seg;
}

void DropSegment(SegmentHeader* heap, SegmentHeader* seg) {
    Unchain(heap, seg);
    TableRemove(heap, seg);
    seg->dwSignature = 0;
    GiveBack(heap->pParent, seg);
}

// After a free in seg: an entirely free segment becomes the spare (giving back
// an older one); otherwise a roomier segment moves one place forward.
void Settle(SegmentHeader* heap, SegmentHeader* seg) {
    if (seg == heap)
        return;
    if (IsLast(HeadBlockOf(seg))) {
        if (heap->pSpare == seg)
            return;
        if (SegmentHeader* old = heap->pSpare)
            DropSegment(heap, old);
        Unchain(heap, seg);
        ChainAfter(heap, heap, seg);
        heap->pSpare = seg;
        return;
    }
    SegmentHeader* before = seg->pPrev;
    if (before != heap && seg->dwFreeBytes > before->dwFreeBytes) {
        Unchain(heap, seg);
        ChainAfter(heap, before->pPrev, seg);
    }
}

void* AllocateLocked(SegmentHeader* heap, DWORD size, DWORD flags) {
    if (size > kMaxRequest)
        return nullptr;
    DWORD usable = size ? RoundUp(size, 8) : 8;
    DWORD need = RoundUp(usable, kHdr);
    SegmentHeader* seg = nullptr;
    BlockHeader* b = nullptr;
    if (!heap->pParent && size >= heap->dwGrowSize / 2) {
        seg = NewSegment(heap, RoundUp(need + kOwnSegmentExtra, kPage), flags);
        if (!seg)
            return nullptr;
        ChainAfter(heap, heap->pLast, seg);
        b = FindFit(seg, need);
    } else {
        for (seg = heap; seg; seg = seg->pNext) {
            if (seg->dwBound < need)
                continue;
            if ((b = FindFit(seg, need)) != nullptr)
                break;
            seg->dwBound = need - kHdr;
        }
        if (!b) {
            DWORD segSize = need + kNewSegmentExtra;
            if (!heap->pParent)
                segSize = std::max(segSize, heap->dwGrowSize);
            seg = NewSegment(heap, RoundUp(segSize, kPage), flags);
            if (!seg)
                return nullptr;
            ChainAfter(heap, heap, seg);
            b = FindFit(seg, need);
        }
    }
    if (seg == heap->pSpare)
        heap->pSpare = nullptr;
    BlockHeader* used = Carve(seg, b, need, usable);
    if (flags & ESL_HEAP_ZERO_INIT)
        std::memset(used + 1, 0, SizeOf(used));
    return used + 1;
}

void FreeLocked(SegmentHeader* heap, SegmentHeader* seg, BlockHeader* b) {
    Release(seg, b);
    Settle(heap, seg);
}

// Gives the room of b beyond `usable` back when it is worth a block of its own.
void Trim(SegmentHeader* heap, SegmentHeader* seg, BlockHeader* b, DWORD usable) {
    DWORD room = RoomOf(b);
    DWORD need = RoundUp(usable, kHdr);
    DWORD last = b->dwWord & kLastBlock;
    if (room - need < kHdr + kMinRemainder) {
        b->dwWord = Word(need == room ? usable : room, last);
        return;
    }
    auto* tail = reinterpret_cast<BlockHeader*>(Bytes(b) + kHdr + need);
    tail->dwWord = Word(room - need - kHdr, last);
    tail->pPrev = b;
    if (!last)
        After(tail)->pPrev = tail;
    b->dwWord = Word(usable, 0);
    FreeLocked(heap, seg, tail);
}

void* ReallocateLocked(SegmentHeader* heap, void* p, DWORD size, DWORD flags) {
    if (!p)
        return AllocateLocked(heap, size, flags);
    SegmentHeader* seg = nullptr;
    BlockHeader* b = BlockInUse(heap, p, &seg);
    if (!b || size > kMaxRequest)
        return nullptr;
    DWORD oldSize = SizeOf(b);
    DWORD usable = size ? RoundUp(size, 8) : 8;
    DWORD need = RoundUp(usable, kHdr);
    DWORD room = RoomOf(b);
    if (need > room) {
        BlockHeader* next = IsLast(b) ? nullptr : After(b);
        if (!next || !IsFree(next) || room + kHdr + SizeOf(next) < need) {
            void* moved = AllocateLocked(heap, size, flags);
            if (!moved)
                return nullptr;
            std::memcpy(moved, p, oldSize);
            FreeLocked(heap, seg, b);
            return moved;
        }
        UnlinkFree(seg, next);
        seg->dwFreeBytes -= SizeOf(next);
        DWORD last = next->dwWord & kLastBlock;
        if (!last)
            After(next)->pPrev = b;
        b->dwWord = Word(room + kHdr + SizeOf(next), last);
        next->dwWord = 0;
    }
    Trim(heap, seg, b, usable);
    DWORD newSize = SizeOf(b);
    if ((flags & ESL_HEAP_ZERO_INIT) && newSize > oldSize)
        std::memset(Bytes(p) + oldSize, 0, newSize - oldSize);
    return p;
}

void* AllocateIn(SegmentHeader* heap, DWORD size, DWORD flags) {
    flags = EffectiveFlags(heap, flags);
    void* p;
    DWORD length = 0;
    {
        HeapGuard guard(heap, flags);
        p = AllocateLocked(heap, size, flags & ~DWORD{ESL_HEAP_ZERO_INIT});
        if (p)
            length = SizeOf(static_cast<BlockHeader*>(p) - 1);
    }
    // The block is the caller's now: filling it need not hold others out.
    if (p && (flags & ESL_HEAP_ZERO_INIT))
        std::memset(p, 0, length);
    return p;
}

void FreeIn(SegmentHeader* heap, void* p) {
    HeapGuard guard(heap, EffectiveFlags(heap, 0));
    SegmentHeader* seg = nullptr;
    if (BlockHeader* b = BlockInUse(heap, p, &seg))
        FreeLocked(heap, seg, b);
}

void DestroyHeap(SegmentHeader* heap) {
    SegmentHeader* parent = heap->pParent;
    heap->dwSignature = 0;
    for (SegmentHeader* seg = heap->pNext; seg;) {
        SegmentHeader* next = seg->pNext;
        seg->dwSignature = 0;
        GiveBack(parent, seg);
        seg = next;
    }
    if (heap->ppTable)
        ::HeapFree(::GetProcessHeap(), 0, heap->ppTable);
    if (!(heap->dwFlags & ESL_HEAP_NO_SERIALIZE))
        ::DeleteCriticalSection(&heap->cs);
    GiveBack(parent, heap);
    if (parent)
        eslHeapDestroy(reinterpret_cast<HESLHEAP>(parent));
}

SegmentHeader* GlobalHeap(bool create) {
    SegmentHeader* heap = gGlobalHeap.load();
    if (heap || !create)
        return heap;
    auto* fresh = reinterpret_cast<SegmentHeader*>(eslHeapCreate(0, 0, 0, nullptr));
    if (!fresh)
        return nullptr;
    if (gGlobalHeap.compare_exchange_strong(heap, fresh))
        return fresh;
    DestroyHeap(fresh);  // another thread made it first
    return heap;
}

bool ChainIsSound(SegmentHeader* heap) {
    SegmentHeader* prev = nullptr;
    DWORD count = 0;
    for (SegmentHeader* seg = heap; seg; prev = seg, seg = seg->pNext) {
        // Only addresses of the heap's own segments are followed.
        if (++count > heap->nTableCount || TableFind(heap, seg) != seg || seg->pPrev != prev)
            return false;
    }
    return prev == heap->pLast;
}

//--- dump

char* AppendText(char* out, const char* text) {
    while (*text)
        *out++ = *text++;
    return out;
}

char* AppendHex(char* out, unsigned long long value, int minDigits) {
    char digits[16];
    int n = 0;
    do {
        digits[n++] = "0123456789ABCDEF"[value & 15];
        value >>= 4;
    } while (value);
    for (; n < minDigits; --minDigits)
        *out++ = '0';
    while (n)
        *out++ = digits[--n];
    return out;
}

// "block %08XH (%d bytes) :" and up to 16 bytes by " %02X". A block of 8
// bytes shows its 8 bytes only: reading on would cross into the next header,
// or past the segment's end.
void FormatDumpLine(char* line, BlockHeader* b) {
    const BYTE* data = reinterpret_cast<const BYTE*>(b + 1);
    DWORD size = SizeOf(b);
    char* out = AppendText(line, "block ");
    out = AppendHex(out, Address(data), 8);
    out += std::sprintf(out, "H (%d bytes) :", static_cast<int>(size));
    for (DWORD i = 0; i < std::min<DWORD>(size, 16); ++i) {
        *out++ = ' ';
        out = AppendHex(out, data[i], 2);
    }
    *out++ = '\n';
    *out = '\0';
}

}  // namespace

SystemAllocateFn SetSystemAllocator(SystemAllocateFn pfn) {
    return gSystemAllocator.exchange(pfn);
}
DebugOutputFn SetDebugOutput(DebugOutputFn pfn) {
    return gDebugOutput.exchange(pfn);
}

void* AllocateSystemMemory(SIZE_T cb, DWORD dwFlags) {
    dwFlags |= gGlobalFlags.load(std::memory_order_relaxed);
    for (int retry = 0;; ++retry) {
        SystemAllocateFn allocate = gSystemAllocator.load();
        void* p = allocate ? allocate(cb) : ::VirtualAlloc(nullptr, cb, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (p)
            return p;
        if ((dwFlags & kNoRetry) || !AskToRetry(retry, dwFlags))
            return nullptr;
    }
}

void FreeSystemMemory(void* p) {
    if (p)
        ::VirtualFree(p, 0, MEM_RELEASE);
}

int SegmentCount(HESLHEAP hHeap) {
    SegmentHeader* heap = ExistingHeapOf(hHeap);
    if (!heap)
        return 0;
    HeapGuard guard(heap, 0);
    return static_cast<int>(heap->nTableCount);
}

const void* SegmentOf(HESLHEAP hHeap, const void* ptr) {
    SegmentHeader* heap = ExistingHeapOf(hHeap);
    if (!heap)
        return nullptr;
    HeapGuard guard(heap, 0);
    return TableFind(heap, ptr);
}

int SegmentIndexOf(HESLHEAP hHeap, const void* ptr) {
    SegmentHeader* heap = ExistingHeapOf(hHeap);
    if (!heap)
        return -1;
    HeapGuard guard(heap, 0);
    SegmentHeader* target = TableFind(heap, ptr);
    int index = 0;
    for (SegmentHeader* seg = heap; seg; seg = seg->pNext, ++index) {
        if (seg == target)
            return index;
    }
    return -1;
}

namespace {

struct Checker {
    char* pszError;
    size_t cchError;
    bool Fail(const char* what, const void* where) {
        std::snprintf(pszError, cchError, "%s (at %p)", what, where);
        return false;
    }

    bool Blocks(SegmentHeader* seg, DWORD* pFreeCount) {
        BlockHeader* head = HeadBlockOf(seg);
        if ((head->dwWord & (kBlockMark | kHeadBlock | kFreeBlock)) != (kBlockMark | kHeadBlock | kFreeBlock) ||
            head->pPrev)
            return Fail("head block is not a free head", head);
        DWORD freeBytes = 0, freeCount = 0, capacity = 0;
        BlockHeader* prev = nullptr;
        for (BlockHeader* b = head;; prev = b, b = After(b)) {
            DWORD word = b->dwWord;
            if (!(word & kBlockMark))
                return Fail("block without validity mark", b);
            if (b != head && ((word & kHeadBlock) || b->pPrev != prev))
                return Fail("block with a wrong head mark or back link", b);
            if (SizeOf(b) % 8 != 0)
                return Fail("block size not a multiple of 8", b);
            if (word & kFreeBlock) {
                if (prev && IsFree(prev))
                    return Fail("two free blocks side by side", b);
                if (SizeOf(b) % kHdr != 0)
                    return Fail("free block size not a multiple of the granule", b);
                freeBytes += SizeOf(b);
                ++freeCount;
                capacity = std::max(capacity, CapacityOf(b));
            }
            uintptr_t after = Address(b) + kHdr + RoomOf(b);
            uintptr_t end = Address(SegmentEnd(seg));
            if (after > end)
                return Fail("block runs past its segment", b);
            if ((word & kLastBlock) != 0) {
                if (after != end)
                    return Fail("last block does not end the segment", b);
                break;
            }
            if (after == end)
                return Fail("block ends the segment without the last mark", b);
        }
        if (freeBytes != seg->dwFreeBytes)
            return Fail("free byte count differs from the blocks", seg);
        if (seg->dwBound < capacity)
            return Fail("bound below a free block", seg);
        *pFreeCount = freeCount;
        return true;
    }

    bool Lists(SegmentHeader* seg, DWORD freeCount) {
        DWORD listed = 0;
        for (unsigned bin = 0; bin < kBinCount; ++bin) {
            bool mapped = (seg->binMap[bin >> 5] >> (bin & 31)) & 1;
            if (mapped != (seg->pBins[bin] != nullptr))
                return Fail("list map differs from the lists", seg);
            BlockHeader* prev = nullptr;
            for (BlockHeader* b = seg->pBins[bin]; b; prev = b, b = Links(b)->pNext) {
                if (++listed > freeCount)
                    return Fail("more listed blocks than free blocks", seg);
                if (Address(b) < Address(HeadBlockOf(seg)) || Address(b) >= Address(SegmentEnd(seg)))
                    return Fail("listed block outside its segment", b);
                if (!IsFree(b) || BinOf(SizeOf(b)) != bin || Links(b)->pPrev != prev)
                    return Fail("listed block in the wrong list or not free", b);
            }
        }
        return listed == freeCount || Fail("free block missing from the lists", seg);
    }

    bool Heap(SegmentHeader* heap) {
        for (DWORD i = 0; i < heap->nTableCount; ++i) {
            SegmentHeader* seg = heap->ppTable[i];
            if (i > 0 && Address(heap->ppTable[i - 1]) >= Address(seg))
                return Fail("segment table out of order", seg);
            if (seg->pHeap != heap || seg->dwSignature != kHeapSignature)
                return Fail("segment of another heap", seg);
        }
        if (!ChainIsSound(heap))
            return Fail("segment chain broken", heap);
        DWORD chained = 0;
        bool spareSeen = !heap->pSpare;
        for (SegmentHeader* seg = heap; seg; seg = seg->pNext, ++chained) {
            DWORD freeCount = 0;
            if (!Blocks(seg, &freeCount) || !Lists(seg, freeCount))
                return false;
            if (seg == heap->pSpare) {
                spareSeen = true;
                if (seg == heap || !IsLast(HeadBlockOf(seg)))
                    return Fail("spare segment in use", seg);
            }
        }
        if (chained != heap->nTableCount)
            return Fail("segment table and chain differ", heap);
        return spareSeen || Fail("spare segment not chained", heap->pSpare);
    }
};

}  // namespace

bool CheckHeap(HESLHEAP hHeap, char* pszError, size_t cchError) {
    Checker checker{pszError, cchError};
    SegmentHeader* heap = ExistingHeapOf(hHeap);
    if (!heap)
        return checker.Fail("not a heap", hHeap);
    HeapGuard guard(heap, 0);
    return checker.Heap(heap);
}

}  // namespace esl::heap_detail

using namespace esl::heap_detail;

HESLHEAP eslHeapCreate(DWORD dwInitSize, DWORD dwGrowSize, DWORD dwFlags, HESLHEAP hParentHeap) {
    SegmentHeader* parent = nullptr;
    if (hParentHeap && !(parent = ValidHeap(hParentHeap)))
        return nullptr;
    if (dwInitSize > kMaxSegmentSize)
        return nullptr;
    DWORD initSize = dwInitSize ? RoundUp(dwInitSize, kPage) : kDefaultSize;
    DWORD growSize = dwGrowSize ? std::min(dwGrowSize, kMaxSegmentSize) : kDefaultSize;
    DWORD flags = dwFlags & kPublicFlags;
    void* memory = AcquireMemory(parent, initSize, flags);
    if (!memory)
        return nullptr;
    auto* heap = static_cast<SegmentHeader*>(memory);
    InitSegment(heap, heap, initSize, parent ? memory : nullptr);
    if (!ReserveTable(heap)) {
        GiveBack(parent, memory);
        return nullptr;
    }
    TableInsert(heap, heap);
    heap->dwFlags = flags;
    heap->dwGrowSize = growSize;
    heap->dwInitSize = initSize;
    heap->pLast = heap;
    heap->pParent = parent;
    heap->nRefCount = 1;
    if (!(flags & ESL_HEAP_NO_SERIALIZE))
        ::InitializeCriticalSection(&heap->cs);  // spinning measured slower: the lock is held briefly
    if (parent)
        ::InterlockedIncrement(&parent->nRefCount);
    return reinterpret_cast<HESLHEAP>(heap);
}

// Handle 0 is not taken for the global heap here: a failed eslHeapCreate
// followed by its eslHeapDestroy must not tear down every string's memory.
void eslHeapDestroy(HESLHEAP hHeap) {
    SegmentHeader* heap = ValidHeap(hHeap);
    if (heap && ::InterlockedDecrement(&heap->nRefCount) == 0)
        DestroyHeap(heap);
}

void* eslHeapAllocate(HESLHEAP hHeap, DWORD dwSize, DWORD dwFlags) {
    SegmentHeader* heap = HeapOf(hHeap);
    return heap ? AllocateIn(heap, dwSize, dwFlags & kPublicFlags) : nullptr;
}

void eslHeapFree(HESLHEAP hHeap, void* ptrObj, DWORD dwFlags) {
    SegmentHeader* heap = HeapOf(hHeap);
    if (!heap || !ptrObj)
        return;
    HeapGuard guard(heap, EffectiveFlags(heap, dwFlags & kPublicFlags));
    SegmentHeader* seg = nullptr;
    if (BlockHeader* b = BlockInUse(heap, ptrObj, &seg))
        FreeLocked(heap, seg, b);
}

void* eslHeapReallocate(HESLHEAP hHeap, void* ptrObj, DWORD dwSize, DWORD dwFlags) {
    SegmentHeader* heap = HeapOf(hHeap);
    if (!heap)
        return nullptr;
    DWORD flags = EffectiveFlags(heap, dwFlags & kPublicFlags);
    HeapGuard guard(heap, flags);
    return ReallocateLocked(heap, ptrObj, dwSize, flags);
}

DWORD eslHeapGetLength(HESLHEAP hHeap, void* ptrObj) {
    SegmentHeader* heap = HeapOf(hHeap);
    if (!heap)
        return static_cast<DWORD>(-1);
    HeapGuard guard(heap, EffectiveFlags(heap, 0));
    SegmentHeader* seg = nullptr;
    BlockHeader* b = BlockInUse(heap, ptrObj, &seg);
    return b ? SizeOf(b) : static_cast<DWORD>(-1);
}

void eslHeapLock(HESLHEAP hHeap) {
    SegmentHeader* heap = HeapOf(hHeap);
    if (heap && !(heap->dwFlags & ESL_HEAP_NO_SERIALIZE))
        ::EnterCriticalSection(&heap->cs);
}

void eslHeapUnlock(HESLHEAP hHeap) {
    SegmentHeader* heap = HeapOf(hHeap);
    if (heap && !(heap->dwFlags & ESL_HEAP_NO_SERIALIZE))
        ::LeaveCriticalSection(&heap->cs);
}

DWORD eslHeapGetGlobalFlag() {
    return gGlobalFlags.load();
}
void eslHeapSetGlobalFlag(DWORD dwFlags) {
    gGlobalFlags.store(dwFlags & kPublicFlags);
}

PFUNC_ESL_NO_MEMORY eslHeapHookNoMemory(PFUNC_ESL_NO_MEMORY pfnHook) {
    return gNoMemoryHook.exchange(pfnHook);
}

void eslHeapDump(HESLHEAP hHeap, int nMaxBlocks) {
    SegmentHeader* heap = ExistingHeapOf(hHeap);
    if (!heap)
        return;
    HeapGuard guard(heap, 0);
    DebugOutputFn output = gDebugOutput.load();
    if (!output)
        output = ::OutputDebugStringA;
    bool any = false;
    int lines = 0;
    for (SegmentHeader* seg = heap; seg; seg = seg->pNext) {
        uintptr_t end = Address(SegmentEnd(seg));
        for (BlockHeader* b = HeadBlockOf(seg);; b = After(b)) {
            if (!(b->dwWord & (kFreeBlock | kHeadBlock))) {
                if (!any)
                    output(kDumpTitle);
                any = true;
                if (lines >= nMaxBlocks)
                    return;
                char line[128];
                FormatDumpLine(line, b);
                output(line);
                ++lines;
            }
            if (IsLast(b) || Address(b) + kHdr + RoomOf(b) >= end)
                break;
        }
    }
}

HESLHEAP eslGetGlobalHeap() {
    return reinterpret_cast<HESLHEAP>(GlobalHeap(true));
}

void eslFreeGlobalHeap() {
    if (SegmentHeader* heap = gGlobalHeap.exchange(nullptr))
        eslHeapDestroy(reinterpret_cast<HESLHEAP>(heap));
}

int eslVerifyHeapChain(HESLHEAP hHeap) {
    SegmentHeader* heap = ExistingHeapOf(hHeap);
    if (!heap)
        return 0;
    bool sound;
    {
        HeapGuard guard(heap, 0);
        sound = ChainIsSound(heap);
    }
    if (sound)
        return 0;
    // Raised outside the lock: the crash handler may want the heap.
    ::RaiseException(EXCEPTION_BREAKPOINT, 0, 0, nullptr);
    return static_cast<int>(eslErrorGeneral);
}
