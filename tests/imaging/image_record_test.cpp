// Image records: attach, destroy, validate, refresh, swap, and the failure
// table of every operation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "imaging/image/image.h"
#include "imaging/seams.h"
#include "support/owners.h"

namespace {

bool RecordIsEmpty(const ImageRecord& r) {
  static const ImageRecord zero = {};
  return memcmp(&r, &zero, sizeof r) == 0;
}

int32_t LastError() { return CurrentThreadContext()->lastError; }

std::vector<DWORD> notes;
LONG CALLBACK RecordNote(DWORD code, ULONG_PTR) {
  notes.push_back(code);
  return 0;
}

struct NoteScope {
  NoteScope() {
    notes.clear();
    CurrentThreadContext()->notifyCallback = RecordNote;
  }
  ~NoteScope() { CurrentThreadContext()->notifyCallback = nullptr; }
};

// A page whose protection the test sets, holding one record.
struct RecordPage {
  void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READWRITE);
  ImageRecord* record = static_cast<ImageRecord*>(page);
  void Protect(DWORD protection) {
    DWORD old;
    VirtualProtect(page, 4096, protection, &old);
  }
  ~RecordPage() { VirtualFree(page, 0, MEM_RELEASE); }
};

// Every operation that takes a record, with its result on failure.
struct Operation {
  const char* name;
  int (*run)(ImageRecord*);
};
int RunCreate(ImageRecord* r) { return CreateImage(r, 4, 4, 0); }
int RunAttach(ImageRecord* r) {
  static uint32_t pixels[16];
  return AttachImage(r, 4, 4, 4, pixels);
}
int RunDestroy(ImageRecord* r) { return DestroyImage(r); }
int RunLock(ImageRecord* r) { return LockImage(r, 0); }
int RunUnlock(ImageRecord* r) { return UnlockImage(r, 0); }
int RunRefresh(ImageRecord* r) { return RefreshImage(r); }
int RunValidate(ImageRecord* r) { return ValidateImage(r) ? 1 : 0; }
int RunSwapFirst(ImageRecord* r) {
  ImageRecord other = {};
  return SwapImages(r, &other);
}
int RunSwapSecond(ImageRecord* r) {
  ImageRecord other = {};
  return SwapImages(&other, r);
}
const Operation kOperations[] = {
    {"CreateImage", RunCreate},   {"AttachImage", RunAttach},   {"DestroyImage", RunDestroy},
    {"LockImage", RunLock},       {"UnlockImage", RunUnlock},   {"RefreshImage", RunRefresh},
    {"ValidateImage", RunValidate}, {"SwapImages a", RunSwapFirst}, {"SwapImages b", RunSwapSecond},
};

}  // namespace

TEST(AttachImage, TableOfArguments) {
  uint32_t pixels[64] = {};
  struct Case {
    const char* name;
    int32_t w, h, stride;
    void* address;
    int result;
  } cases[] = {
      {"plain", 8, 8, 8, pixels, 1},
      {"stride smaller than the width", 8, 4, 2, pixels, 1},
      {"stride 0", 8, 8, 0, pixels, 0},
      {"width 0", 0, 8, 8, pixels, 0},
      {"negative height", 8, -1, 8, pixels, 0},
      {"null address", 8, 8, 8, nullptr, 0},
      {"unreadable address", 8, 8, 8, reinterpret_cast<void*>(0x100), 0},
  };
  for (const Case& c : cases) {
    ImageRecord image = {};
    EXPECT_EQ(AttachImage(&image, c.w, c.h, c.stride, c.address), c.result) << c.name;
    if (c.result == 0) {
      EXPECT_EQ(LastError(), ImgErrBadArgument) << c.name;
      EXPECT_TRUE(RecordIsEmpty(image)) << c.name;
      continue;
    }
    EXPECT_EQ(image.tag, ImageTag);
    EXPECT_EQ(image.kind, KindCallerMemory);
    EXPECT_EQ(image.basePixels, pixels);
    EXPECT_EQ(image.pixels, pixels);
    EXPECT_EQ(image.baseWidth, c.w);
    EXPECT_EQ(image.baseHeight, c.h);
    EXPECT_EQ(image.baseStride, c.stride);
    EXPECT_EQ(image.stride, c.stride);
    EXPECT_TRUE(ValidateImage(&image)) << c.name;
    EXPECT_EQ(DestroyImage(&image), 1);
  }
}

TEST(AttachImage, BadArgumentsLeaveTheHeldImage) {
  ImageRecord image = {};
  ASSERT_EQ(CreateImage(&image, 5, 5, CreateInMemory), 1);
  ImageRecord before = image;
  EXPECT_EQ(AttachImage(&image, 5, 5, 5, nullptr), 0);
  EXPECT_EQ(memcmp(&before, &image, sizeof image), 0);
  uint32_t pixels[4];
  EXPECT_EQ(AttachImage(&image, 2, 2, 2, pixels), 1);  // replaces the block
  EXPECT_EQ(image.kind, KindCallerMemory);
  EXPECT_EQ(DestroyImage(&image), 1);
}

TEST(DestroyImage, ZeroRecordAndCallerMemory) {
  ImageRecord empty = {};
  EXPECT_EQ(DestroyImage(&empty), 1);
  EXPECT_TRUE(RecordIsEmpty(empty));

  uint32_t pixels[4] = {1, 2, 3, 4};
  ImageRecord image = {};
  ASSERT_EQ(AttachImage(&image, 2, 2, 2, pixels), 1);
  EXPECT_EQ(DestroyImage(&image), 1);
  EXPECT_TRUE(RecordIsEmpty(image));
  EXPECT_EQ(pixels[0], 1u);
  EXPECT_EQ(pixels[3], 4u);
}

TEST(DestroyImage, AKindWithoutTheTagOwnsNothing) {
  ImageRecord image = {};
  image.kind = KindOwnMemory;
  image.block = reinterpret_cast<HGLOBAL>(0x12345678);
  EXPECT_EQ(DestroyImage(&image), 1);
  EXPECT_TRUE(RecordIsEmpty(image));
}

TEST(ValidateImage, ALostDcIsMadeAnew) {
  ImageRecord image = {};
  ASSERT_EQ(CreateImage(&image, 8, 8, 0), 1);
  NoteScope scope;
  ASSERT_TRUE(DeleteDC(image.dc));
  EXPECT_TRUE(ValidateImage(&image));
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0], ImgNoteDcRecreated);
  EXPECT_EQ(GetObjectType(image.dc), static_cast<DWORD>(OBJ_MEMDC));
  EXPECT_EQ(image.defaultBitmap, nullptr);
  EXPECT_TRUE(ValidateImage(&image));
  EXPECT_EQ(notes.size(), 1u);
  HDC dc = image.dc;
  EXPECT_EQ(DestroyImage(&image), 1);
  EXPECT_EQ(GetObjectType(dc), 0u);
}

TEST(ValidateImage, LostDcAndSectionIsNoImage) {
  ImageRecord image = {};
  ASSERT_EQ(CreateImage(&image, 8, 8, 0), 1);
  DeleteDC(image.dc);
  DeleteObject(image.dib);
  EXPECT_FALSE(ValidateImage(&image));
  EXPECT_EQ(LastError(), ImgErrGeneral);
  EXPECT_EQ(RefreshImage(&image), 0);
  EXPECT_EQ(LastError(), ImgErrBadObject);
  EXPECT_EQ(DestroyImage(&image), 1);
}

TEST(ValidateImage, MemoryKindRules) {
  uint32_t pixels[4];
  struct Case {
    const char* name;
    void (*spoil)(ImageRecord*);
  } cases[] = {
      {"address in the first 64 KiB", [](ImageRecord* r) { r->basePixels = reinterpret_cast<uint32_t*>(0x10000); }},
      {"no base width", [](ImageRecord* r) { r->baseWidth = 0; }},
      {"no base height", [](ImageRecord* r) { r->baseHeight = 0; }},
      {"no base stride", [](ImageRecord* r) { r->baseStride = 0; }},
      {"kind 0", [](ImageRecord* r) { r->kind = 0; }},
      {"kind 4", [](ImageRecord* r) { r->kind = 4; }},
  };
  for (const Case& c : cases) {
    ImageRecord image = {};
    ASSERT_EQ(AttachImage(&image, 2, 2, 2, pixels), 1);
    c.spoil(&image);
    EXPECT_FALSE(ValidateImage(&image)) << c.name;
    // Geometry unavailable: LockImage says ImgErrGeneral, RefreshImage
    // ImgErrBadObject.
    EXPECT_EQ(LockImage(&image, 0), 0) << c.name;
    EXPECT_EQ(LastError(), ImgErrGeneral) << c.name;
    EXPECT_EQ(image.lockCount, 0) << c.name;
    EXPECT_EQ(RefreshImage(&image), 0) << c.name;
    EXPECT_EQ(LastError(), ImgErrBadObject) << c.name;
    memset(&image, 0, sizeof image);
  }
}

TEST(LockImage, LostSectionIsGeometryUnavailable) {
  ImageRecord image = {};
  ASSERT_EQ(CreateImage(&image, 8, 8, 0), 1);
  DeleteObject(image.dib);
  EXPECT_EQ(LockImage(&image, 0), 0);
  EXPECT_EQ(LastError(), ImgErrGeneral);
  EXPECT_EQ(image.lockCount, 0);
  DeleteDC(image.dc);
  memset(&image, 0, sizeof image);
}

TEST(RefreshImage, RereadsTheSize) {
  ImageRecord section = {};
  ASSERT_EQ(CreateImage(&section, 9, 3, 0), 1);
  section.width = section.height = section.stride = 0;
  section.pixels = nullptr;
  EXPECT_EQ(RefreshImage(&section), 1);
  EXPECT_EQ(section.width, 9);
  EXPECT_EQ(section.height, 3);
  EXPECT_EQ(section.stride, 9);
  EXPECT_NE(section.pixels, nullptr);
  EXPECT_EQ(DestroyImage(&section), 1);

  ImageRecord memory = {};
  ASSERT_EQ(CreateImage(&memory, 9, 3, CreateInMemory), 1);
  memory.width = memory.height = 0;
  memory.stride = 77;
  EXPECT_EQ(RefreshImage(&memory), 1);
  EXPECT_EQ(memory.width, 9);
  EXPECT_EQ(memory.height, 3);
  EXPECT_EQ(memory.stride, 77);  // left as it stands
  EXPECT_EQ(DestroyImage(&memory), 1);
}

TEST(SwapImages, AnImageAndAnEmptyRecord) {
  ImageRecord image = {}, empty = {};
  ASSERT_EQ(CreateImage(&image, 6, 6, 0), 1);
  ImageRecord before = image;
  EXPECT_EQ(SwapImages(&image, &empty), 1);
  EXPECT_TRUE(RecordIsEmpty(image));
  EXPECT_EQ(memcmp(&empty, &before, sizeof empty), 0);
  EXPECT_TRUE(ValidateImage(&empty));
  EXPECT_EQ(DestroyImage(&empty), 1);
}

// Failure table: every operation on a record it may not write.
TEST(ImageFailures, RecordNotWritable) {
  for (DWORD protection : {DWORD{PAGE_READONLY}, DWORD{PAGE_NOACCESS}}) {
    for (const Operation& op : kOperations) {
      RecordPage page;
      page.Protect(protection);
      CurrentThreadContext()->lastError = 0;
      EXPECT_EQ(op.run(page.record), 0) << op.name;
      EXPECT_EQ(LastError(), ImgErrBadObject) << op.name;
    }
  }
}

TEST(ImageFailures, TagNotSet) {
  uint32_t pixels[4];
  ImageRecord image = {};
  ASSERT_EQ(AttachImage(&image, 2, 2, 2, pixels), 1);
  image.tag = 0x9B;
  EXPECT_FALSE(ValidateImage(&image));
  EXPECT_EQ(LastError(), ImgErrBadObject);
  EXPECT_EQ(RefreshImage(&image), 0);
  EXPECT_EQ(LastError(), ImgErrBadObject);
}

TEST(ImageFailures, ClosingRecord) {
  ImageRecord image = {};
  ASSERT_EQ(CreateImage(&image, 4, 4, 0), 1);
  image.state |= StateClosing;
  EXPECT_EQ(LockImage(&image, 0), 0);
  EXPECT_EQ(LastError(), ImgErrBusy);
  EXPECT_EQ(image.lockCount, 0);
  EXPECT_EQ(RefreshImage(&image), 0);
  EXPECT_EQ(LastError(), ImgErrBusy);
  EXPECT_FALSE(ValidateImage(&image));
  EXPECT_EQ(LastError(), ImgErrBusy);
  // UnlockImage looks at neither the tag nor the state.
  EXPECT_EQ(UnlockImage(&image, 0), 1);
  EXPECT_EQ(DestroyImage(&image), 1);
  EXPECT_TRUE(RecordIsEmpty(image));
}

TEST(ImageFailures, FaultWhileClearingForAttach) {
  uint32_t pixels[4];
  ImageRecord image = {};
  ImagingSeams.forcedRecordFaults = 1;
  EXPECT_EQ(AttachImage(&image, 2, 2, 2, pixels), 0);
  EXPECT_EQ(LastError(), ImgErrBadObject);
  EXPECT_EQ(ImagingSeams.forcedRecordFaults, 0);
}

TEST(ImageFailures, FaultWhileReleasing) {
  ImageRecord image = {};
  ASSERT_EQ(CreateImage(&image, 4, 4, 0), 1);
  HBITMAP dib = image.dib;
  ImagingSeams.forcedRecordFaults = 1;
  EXPECT_EQ(DestroyImage(&image), 0);
  EXPECT_EQ(LastError(), ImgErrGeneral);
  EXPECT_TRUE(image.state & StateClosing);
  EXPECT_EQ(GetObjectType(dib), static_cast<DWORD>(OBJ_BITMAP));
  // Nothing was lost: the next destruction releases the storage.
  EXPECT_EQ(DestroyImage(&image), 1);
  EXPECT_EQ(GetObjectType(dib), 0u);
  EXPECT_TRUE(RecordIsEmpty(image));
}

namespace {

struct Holder {
  HandleOwner claimed{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HandleOwner release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HandleOwner thread;
  ThreadContextRecord* record = nullptr;
  void (*work)(Holder*) = nullptr;
  static DWORD WINAPI Run(void* p) {
    auto* self = static_cast<Holder*>(p);
    self->record = CurrentThreadContext();
    if (self->work) self->work(self);
    SetEvent(self->claimed.h);
    WaitForSingleObject(self->release.h, INFINITE);
    return 0;
  }
  void Start() {
    thread.h = CreateThread(nullptr, 64 * 1024, Run, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    WaitForSingleObject(claimed.h, INFINITE);
  }
  ~Holder() {
    SetEvent(release.h);
    WaitForSingleObject(thread.h, INFINITE);
  }
};

ImageRecord sharedImage;
int refusedResults[std::size(kOperations)];

}  // namespace

// A thread without a context record (every record belongs to a live thread)
// fails every operation and touches nothing.
TEST(ImageFailures, NoThreadContext) {
  ASSERT_EQ(CreateImage(&sharedImage, 4, 4, 0), 1);
  std::vector<std::unique_ptr<Holder>> holders;
  for (;;) {
    auto holder = std::make_unique<Holder>();
    holder->Start();
    if (!holder->record) break;
    holders.push_back(std::move(holder));
  }
  Holder refused;
  refused.work = [](Holder*) {
    for (size_t i = 0; i < std::size(kOperations); ++i) refusedResults[i] = kOperations[i].run(&sharedImage);
  };
  ImageRecord before = sharedImage;
  // Preset to a result no operation gives, so that only a call that ran
  // and failed leaves a 0.
  std::fill(std::begin(refusedResults), std::end(refusedResults), -1);
  refused.Start();
  EXPECT_EQ(refused.record, nullptr);
  for (size_t i = 0; i < std::size(kOperations); ++i) EXPECT_EQ(refusedResults[i], 0) << kOperations[i].name;
  EXPECT_EQ(memcmp(&before, &sharedImage, sizeof before), 0);
  holders.clear();
  EXPECT_EQ(DestroyImage(&sharedImage), 1);
}
