// Times DeployStagedTree over a staged tree into an empty and into an already populated install folder.
// Usage: deploy_bench <staging folder> <work folder> [rounds]. Prints "<case> <seconds>" per round.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "deploy/deploy.h"
#include "test_support.h"

namespace {

double TimeDeployment(const std::wstring& staging, const std::wstring& install) {
  std::wstring errorText;
  const auto start = std::chrono::steady_clock::now();
  const bool deployed = DeployStagedTree(staging, install, errorText);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  if (!deployed) {
    std::fprintf(stderr, "deployment failed: %s\n", test_support::WideToUtf8(errorText).c_str());
    std::exit(1);
  }
  return elapsed.count();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: deploy_bench <staging folder> <work folder> [rounds]\n");
    return 64;
  }
  const std::wstring staging = argv[1];
  const std::filesystem::path install = std::filesystem::path(argv[2]) / L"install";
  const int rounds = argc > 3 ? std::stoi(argv[3]) : 3;
  for (int round = 0; round < rounds; ++round) {
    std::error_code ignored;
    std::filesystem::remove_all(install, ignored);
    std::printf("empty %.3f\n", TimeDeployment(staging, install.wstring()));
    std::printf("populated %.3f\n", TimeDeployment(staging, install.wstring()));
    std::fflush(stdout);
  }
  std::error_code ignored;
  std::filesystem::remove_all(install, ignored);
  return 0;
}
