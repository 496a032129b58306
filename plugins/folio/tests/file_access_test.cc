// Tests of libfolio through the library loaded by name, as the application
// loads it. The read side plays the PDF library; delivering threads play the
// application's asynchronous fetch.
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "folio/file_access.h"
#include "fpdfview.h"
#include "internal.h"
#include "pdfium_standin.h"

#if FOLIO_TEST_REPLACES_CALLOC
// Replaces calloc for the whole process (the library included) so that one
// allocation can be made to fail.
extern "C" void* __libc_calloc(size_t count, size_t size);
namespace {
bool g_fail_calloc = false;
}  // namespace
extern "C" void* calloc(size_t count, size_t size) {
  if (g_fail_calloc) {
    return nullptr;
  }
  return __libc_calloc(count, size);
}
#endif

namespace {

using namespace std::chrono_literals;

// The library's exports, looked up the way the application looks them up.
struct Folio {
  void* handle = nullptr;
  decltype(&folio_file_access_create) create = nullptr;
  decltype(&folio_file_access_destroy) destroy = nullptr;
  decltype(&folio_file_access_set_value) set_value = nullptr;
};

// The library stays loaded for the life of the process; unloading it would
// only cost the sanitizers their symbols.
const Folio& Lib() {
  static const Folio folio = [] {
    Folio f;
    f.handle = dlopen("libfolio.so", RTLD_NOW | RTLD_LOCAL);
    if (f.handle == nullptr) {
      ADD_FAILURE() << "dlopen(libfolio.so): " << dlerror();
      return f;
    }
    f.create = reinterpret_cast<decltype(f.create)>(
        dlsym(f.handle, "folio_file_access_create"));
    f.destroy = reinterpret_cast<decltype(f.destroy)>(
        dlsym(f.handle, "folio_file_access_destroy"));
    f.set_value = reinterpret_cast<decltype(f.set_value)>(
        dlsym(f.handle, "folio_file_access_set_value"));
    return f;
  }();
  return folio;
}

bool Loaded() {
  return Lib().create != nullptr && Lib().destroy != nullptr &&
         Lib().set_value != nullptr;
}

#define ASSERT_LIB_LOADED() \
  ASSERT_TRUE(Loaded()) << "libfolio.so or one of its exports is missing"

// Reads a block as the PDF library does: through the record's head.
int ReadBlock(FolioFileAccess* access,
              unsigned long position,
              unsigned char* buffer,
              unsigned long size) {
  auto* head = reinterpret_cast<FPDF_FILEACCESS*>(access);
  return head->m_GetBlock(head->m_Param, position, buffer, size);
}

// A read function that delivers a fixed value from a thread of its own,
// optionally waiting first, and remembers the request it was given.
struct OneShot {
  FolioFileAccess* access = nullptr;
  int32_t value = 0;
  std::chrono::microseconds delay{0};
  // Set: the read function stays inside until the delivering thread has
  // started, so the delivery is made while the reader still holds the lock.
  bool deliver_inside_read = false;

  std::thread deliverer;
  void* seen_user_data = nullptr;
  unsigned long seen_position = 0;
  unsigned char* seen_buffer = nullptr;
  unsigned long seen_size = 0;

  static void Read(void* user_data,
                   unsigned long position,
                   unsigned char* buffer,
                   unsigned long size) {
    auto* self = static_cast<OneShot*>(user_data);
    self->seen_user_data = user_data;
    self->seen_position = position;
    self->seen_buffer = buffer;
    self->seen_size = size;
    std::atomic<bool> started{false};
    self->deliverer = std::thread([self, &started] {
      started = true;
      std::this_thread::sleep_for(self->delay);
      Lib().set_value(self->access, self->value);
    });
    // `started` lives in this frame: leave only once the thread has set it.
    while (!started) {
      std::this_thread::yield();
    }
    if (self->deliver_inside_read) {
      // Give the delivering thread time to reach the lock and block on it.
      std::this_thread::sleep_for(5ms);
    }
  }
};

TEST(FolioLoad, LoadingByNameLoadsThePdfLibrary) {
  ASSERT_LIB_LOADED();
  // The test links neither library, so only libfolio's needed entry can
  // have brought the PDF library in.
  void* pdfium = dlopen("libpdfium.so", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(pdfium, nullptr) << "the PDF library was not loaded";
  dlclose(pdfium);

  // And the two meet: the PDF library reads through a libfolio record.
  auto read_block = reinterpret_cast<decltype(&pdfium_standin_read_block)>(
      dlsym(Lib().handle, "pdfium_standin_read_block"));
  ASSERT_NE(read_block, nullptr);
  OneShot shot;
  shot.value = 16;
  FolioFileAccess* access = Lib().create(64, &OneShot::Read, &shot);
  ASSERT_NE(access, nullptr);
  shot.access = access;
  unsigned char buffer[16];
  EXPECT_EQ(read_block(reinterpret_cast<FPDF_FILEACCESS*>(access), 48, buffer,
                       sizeof buffer),
            16);
  shot.deliverer.join();
  Lib().destroy(access);
}

TEST(FolioFileAccess, HeadIsThePdfLibrarysRecord) {
  ASSERT_LIB_LOADED();
  int user_data = 0;
  FolioFileAccess* access = Lib().create(1000, &OneShot::Read, &user_data);
  ASSERT_NE(access, nullptr);
  auto* head = reinterpret_cast<FPDF_FILEACCESS*>(access);
  EXPECT_EQ(head->m_FileLen, 1000u);
  EXPECT_EQ(head->m_Param, access);
  // The block reader is libfolio's own code.
  Dl_info reader_info;
  Dl_info export_info;
  ASSERT_NE(dladdr(reinterpret_cast<void*>(head->m_GetBlock), &reader_info), 0);
  ASSERT_NE(dladdr(reinterpret_cast<void*>(Lib().create), &export_info), 0);
  EXPECT_EQ(reader_info.dli_fbase, export_info.dli_fbase);
  // The fields after the head, in their documented order.
  EXPECT_EQ(access->result, 0);
  EXPECT_EQ(access->read, &OneShot::Read);
  EXPECT_EQ(access->user_data, &user_data);
  EXPECT_EQ(access->deliveries, 0u);
  Lib().destroy(access);
}

TEST(FolioFileAccess, ReadReturnsTheDeliveredValue) {
  ASSERT_LIB_LOADED();
  struct Case {
    int32_t value;
    std::chrono::microseconds delay;
    bool deliver_inside_read;
  };
  const Case cases[] = {
      {0, 0us, false},  {4096, 0us, false}, {4096, 2000us, false},
      {-1, 0us, false}, {4096, 0us, true},  {0, 0us, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "value " << c.value << ", delay " << c.delay.count()
                 << "us, inside read " << c.deliver_inside_read);
    OneShot shot;
    shot.value = c.value;
    shot.delay = c.delay;
    shot.deliver_inside_read = c.deliver_inside_read;
    FolioFileAccess* access = Lib().create(1 << 20, &OneShot::Read, &shot);
    ASSERT_NE(access, nullptr);
    shot.access = access;
    unsigned char buffer[4096];
    EXPECT_EQ(ReadBlock(access, 8192, buffer, sizeof buffer), c.value);
    shot.deliverer.join();
    EXPECT_EQ(shot.seen_user_data, &shot);
    EXPECT_EQ(shot.seen_position, 8192u);
    EXPECT_EQ(shot.seen_buffer, buffer);
    EXPECT_EQ(shot.seen_size, sizeof buffer);
    Lib().destroy(access);
  }
}

TEST(FolioFileAccess, OnlyADeliveryForThisReadEndsTheWait) {
  ASSERT_LIB_LOADED();
  struct Waiting {
    std::atomic<bool> fetch_started{false};
    static void Read(void* user_data,
                     unsigned long,
                     unsigned char*,
                     unsigned long) {
      static_cast<Waiting*>(user_data)->fetch_started = true;
    }
  } waiting;
  FolioFileAccess* access = Lib().create(100, &Waiting::Read, &waiting);
  ASSERT_NE(access, nullptr);
  // A value delivered while no read was waiting belongs to no read.
  Lib().set_value(access, 7);

  std::atomic<bool> returned{false};
  int result = 0;
  std::thread reader([&] {
    unsigned char buffer[10];
    result = ReadBlock(access, 0, buffer, sizeof buffer);
    returned = true;
  });
  while (!waiting.fetch_started) {
    std::this_thread::yield();
  }
  // Wake the reader without a delivery, as a spurious wake-up would. Taking
  // the lock first makes sure the reader is already waiting.
  for (int i = 0; i < 5; ++i) {
    {
      std::lock_guard<std::mutex> held(access->lock);
      access->wake_up.notify_all();
    }
    std::this_thread::sleep_for(2ms);
    EXPECT_FALSE(returned) << "the read ended without a delivery";
  }
  Lib().set_value(access, 9);
  reader.join();
  EXPECT_EQ(result, 9);
  Lib().destroy(access);
}

TEST(FolioFileAccess, DestroyingNullDoesNothing) {
  ASSERT_LIB_LOADED();
  Lib().destroy(nullptr);
}

#if FOLIO_TEST_REPLACES_CALLOC
TEST(FolioFileAccess, CreationWithoutMemoryReturnsNull) {
  ASSERT_LIB_LOADED();
  int user_data = 0;
  g_fail_calloc = true;
  FolioFileAccess* access = Lib().create(1000, &OneShot::Read, &user_data);
  g_fail_calloc = false;
  EXPECT_EQ(access, nullptr);
}
#endif

// Answers read requests from any number of records on one thread, as the
// application's isolate does: after a random short delay or at once, copying
// the requested range of the document, then delivering the value the reader
// asked for.
class Responder {
 public:
  struct Reader {
    Responder* responder;
    FolioFileAccess* access = nullptr;
    int32_t value = 0;  // what the next read is to return; 0 copies nothing
  };

  Responder(const std::vector<unsigned char>& document, uint32_t seed)
      : document_(document), random_(seed), thread_([this] { Run(); }) {}

  ~Responder() {
    {
      std::lock_guard<std::mutex> held(lock_);
      stopping_ = true;
    }
    wake_up_.notify_one();
    thread_.join();
  }

  // The read function handed to libfolio; user_data is a Reader.
  static void Read(void* user_data,
                   unsigned long position,
                   unsigned char* buffer,
                   unsigned long size) {
    auto* reader = static_cast<Reader*>(user_data);
    Responder* self = reader->responder;
    {
      std::lock_guard<std::mutex> held(self->lock_);
      self->queue_.push_back({reader, position, buffer, size});
    }
    self->wake_up_.notify_one();
  }

 private:
  struct Request {
    Reader* reader;
    unsigned long position;
    unsigned char* buffer;
    unsigned long size;
  };

  void Run() {
    std::unique_lock<std::mutex> held(lock_);
    for (;;) {
      wake_up_.wait(held, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) {
        return;
      }
      const Request request = queue_.front();
      queue_.pop_front();
      held.unlock();
      const auto delay = std::uniform_int_distribution<int>(-100, 200)(random_);
      if (delay > 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
      }
      const int32_t value = request.reader->value;
      if (value != 0) {
        std::memcpy(request.buffer, document_.data() + request.position,
                    request.size);
      }
      Lib().set_value(request.reader->access, value);
      held.lock();
    }
  }

  const std::vector<unsigned char>& document_;
  std::minstd_rand random_;  // used on the responder's thread only
  std::mutex lock_;
  std::condition_variable wake_up_;
  std::deque<Request> queue_;
  bool stopping_ = false;
  std::thread thread_;
};

TEST(FolioFileAccessStress, EveryReadReturnsItsOwnDeliveredValue) {
  ASSERT_LIB_LOADED();
  struct Case {
    int readers;
    int reads_each;
  };
  const Case cases[] = {{1, 2000}, {4, 500}};
  std::vector<unsigned char> document(1 << 16);
  std::minstd_rand fill(7);
  for (unsigned char& byte : document) {
    byte = static_cast<unsigned char>(fill());
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.readers << " readers");
    Responder responder(document, 11);
    std::vector<std::thread> threads;
    std::vector<int> failures(c.readers, 0);
    for (int r = 0; r < c.readers; ++r) {
      threads.emplace_back([&, r] {
        Responder::Reader reader{&responder};
        reader.access =
            Lib().create(document.size(), &Responder::Read, &reader);
        if (reader.access == nullptr) {
          ++failures[r];
          return;
        }
        std::minstd_rand random(100 + r);
        std::vector<unsigned char> buffer;
        for (int i = 0; i < c.reads_each; ++i) {
          const unsigned long size =
              std::uniform_int_distribution<unsigned long>(1, 4096)(random);
          const unsigned long position =
              std::uniform_int_distribution<unsigned long>(
                  0, document.size() - size)(random);
          // Every fifth read fails; the others return a value unique to it.
          const bool fails = i % 5 == 4;
          reader.value = fails ? 0 : r * c.reads_each + i + 1;
          buffer.assign(size, 0xa5);
          const int result =
              ReadBlock(reader.access, position, buffer.data(), size);
          const bool bytes_ok =
              fails ? std::all_of(buffer.begin(), buffer.end(),
                                  [](unsigned char b) { return b == 0xa5; })
                    : std::equal(buffer.begin(), buffer.end(),
                                 document.begin() + position);
          if (result != reader.value || !bytes_ok) {
            ++failures[r];
          }
        }
        Lib().destroy(reader.access);
      });
    }
    for (std::thread& t : threads) {
      t.join();
    }
    for (int r = 0; r < c.readers; ++r) {
      EXPECT_EQ(failures[r], 0) << "reader " << r;
    }
  }
}

}  // namespace
