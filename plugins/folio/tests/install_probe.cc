// Loads libfolio from an installed lib/ folder given as the only argument and
// checks that the PDF library it needs was found beside it. Exits 0 if so.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

namespace {

std::string RealDir(const char* path) {
  char resolved[PATH_MAX];
  if (realpath(path, resolved) == nullptr) {
    return {};
  }
  std::string out(resolved);
  return out.substr(0, out.rfind('/'));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s LIBDIR\n", argv[0]);
    return 2;
  }
  const std::string lib_dir = argv[1];
  void* folio = dlopen((lib_dir + "/libfolio.so").c_str(), RTLD_NOW);
  if (folio == nullptr) {
    std::fprintf(stderr, "dlopen: %s\n", dlerror());
    return 1;
  }
  void* symbol = dlsym(folio, "pdfium_standin_read_block");
  Dl_info info;
  if (symbol == nullptr || dladdr(symbol, &info) == 0) {
    std::fprintf(stderr, "the PDF library was not loaded with libfolio\n");
    return 1;
  }
  const std::string found = RealDir(info.dli_fname);
  const std::string wanted = RealDir((lib_dir + "/libfolio.so").c_str());
  if (found.empty() || found != wanted) {
    std::fprintf(stderr, "PDF library loaded from %s, not from %s\n",
                 info.dli_fname, lib_dir.c_str());
    return 1;
  }
  return 0;
}
