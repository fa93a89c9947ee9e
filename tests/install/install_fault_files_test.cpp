// Whole runs whose install folder resists, or whose installer is killed: each ends with its text and loses
// nothing, and the next run, once the cause is gone, leaves what a clean install leaves.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>

#include "common/unique_handle.h"
#include "file_faults.h"
#include "install_fault_fixture.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using install_fault::InstallFault;
using install_fault::Stop;
using test_support::WideToUtf8;

const std::wstring kCannotCreateInstallDir = L"Не удалось создать папку установки.";
const std::wstring kCannotInstall = L"Не удалось установить: ";

class FileFault : public InstallFault {
 protected:
  void SetUp() override { PublishPackage(package_); }

  std::set<std::wstring> TemporaryFilesOfThisRun() const { return {PackageName(), StagingName()}; }
};

TEST_F(FileFault, AFileHeldOpenStopsTheDeploymentAndTheRepeatInstalls) {
  SeedInstallFolder();
  Remember();
  std::vector<test_support::RecordedMessage> messages;
  {
    test_support::HeldByAnotherProcess held(installDir_ / L"Fernquill.exe");
    messages = Run();
  }
  ExpectFailure(messages, {kCannotInstall + L"Fernquill.exe", {}}, Stop::kInDeployment,
                TemporaryFilesOfThisRun());
  ExpectCleanInstall(Run());
}

TEST_F(FileFault, AReadOnlyOrHiddenTargetFileIsReplacedAndLosesTheMark) {
  // Windows refuses CopyFileW over such a file; one marked file would otherwise stop every update.
  SeedInstallFolder();
  const fs::path target = installDir_ / L"data" / L"readme.txt";
  ASSERT_TRUE(::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  Remember();
  ExpectCleanInstall(Run());
  EXPECT_EQ(::GetFileAttributesW(target.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
}

struct BlockedCase {
  const char* name;
  const wchar_t* blocker;  // the file in the way, below the install root
  const wchar_t* installDir;
};

void PrintTo(const BlockedCase& c, std::ostream* out) { *out << c.name; }

class InstallFolderIsAFile : public FileFault, public ::testing::WithParamInterface<BlockedCase> {};

TEST_P(InstallFolderIsAFile, StopsBeforeCopyingAndTheRepeatInstallsOnceItIsGone) {
  const BlockedCase& c = GetParam();
  const fs::path blocker = installRoot_ / c.blocker;
  installDir_ = installRoot_ / c.installDir;
  test_support::WriteFile(blocker, "a file of the user's, in the way");
  Remember();
  ExpectFailure(Run(), {kCannotCreateInstallDir, {}}, Stop::kBeforeDeployment, TemporaryFilesOfThisRun());
  EXPECT_EQ(test_support::ReadFile(blocker), "a file of the user's, in the way");

  fs::remove(blocker);
  ExpectCleanInstall(Run());
}

INSTANTIATE_TEST_SUITE_P(Cases, InstallFolderIsAFile,
                         ::testing::Values(BlockedCase{"the_folder_itself", L"Fern quill", L"Fern quill"},
                                           BlockedCase{"its_parent", L"Games", L"Games\\Fern quill"}),
                         [](const ::testing::TestParamInfo<BlockedCase>& test) {
                           return std::string(test.param.name);
                         });

// A folder nobody may write into, root included, through the Linux immutable attribute: under Wine as
// root neither a DACL that denies writing nor the read-only attribute nor a cleared mode bit stops a write.
class FolderNotWritable : public FileFault {
 protected:
  // Preparing the test prefix clears the attribute below every such folder, should a test die.
  FolderNotWritable() { fs::create_directories(noWriteRoot_); }

  const fs::path noWriteRoot_ = installRoot_ / L"no-write";
};

TEST_F(FolderNotWritable, AParentFolderStopsTheInstallFolderAndTheRepeatInstallsOnceWritable) {
  installDir_ = noWriteRoot_ / L"Fern quill";
  {
    test_support::ImmutableOnLinux denied(noWriteRoot_);
    if (!denied.Available()) GTEST_SKIP() << "chattr +i is refused here: no folder can be denied to root";
    Remember();
    ExpectFailure(Run(), {kCannotCreateInstallDir, {}}, Stop::kBeforeDeployment, TemporaryFilesOfThisRun());
  }
  ExpectCleanInstall(Run());
}

TEST_F(FolderNotWritable, TheInstallFolderStopsTheFirstNewFileAndTheRepeatInstallsOnceWritable) {
  installDir_ = noWriteRoot_ / L"Fern quill";
  SeedInstallFolder();  // an earlier version without a launcher: the launcher is the one new file
  {
    test_support::ImmutableOnLinux denied(installDir_);
    if (!denied.Available()) GTEST_SKIP() << "chattr +i is refused here: no folder can be denied to root";
    Remember();
    ExpectFailure(Run(), {kCannotInstall + L"FernquillLauncher.exe", {}}, Stop::kInDeployment,
                  TemporaryFilesOfThisRun());
  }
  ExpectCleanInstall(Run());
}

class ManyFiles : public FileFault {
 protected:
  ManyFiles() { package_ = L"bulk.zip"; }
};

TEST_F(ManyFiles, AStagedTreeOfThousandsOfFilesArrivesWhole) {
  SeedInstallFolder();
  Remember();
  ExpectCleanInstall(Run());
}

std::size_t CountFiles(const fs::path& root) {
  std::size_t count = 0;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    count += it->is_regular_file(error);
  }
  return count;
}

// The equipment installer, one whole run in a process of its own, started with this process's TMP.
class InstallerProcess {
 public:
  InstallerProcess(const std::wstring& host, const fs::path& installDir, const fs::path& report)
      : process_(test_support::StartProcess(L"\"" + test_support::EquipmentPath(L"install_runner.exe") +
                                                L"\" \"" + host + L"\" \"" + installDir.wstring() + L"\" \"" +
                                                report.wstring() + L"\"",
                                            &id_)) {}
  ~InstallerProcess() { Kill(); }
  InstallerProcess(const InstallerProcess&) = delete;
  InstallerProcess& operator=(const InstallerProcess&) = delete;

  DWORD id() const { return id_; }
  bool Running() const { return ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }
  // True when the process was still running and is now gone.
  bool Kill() {
    const bool killed = Running() && ::TerminateProcess(process_.get(), 9);
    ::WaitForSingleObject(process_.get(), 30000);
    return killed;
  }

 private:
  DWORD id_ = 0;  // before the process, which sets it
  unique_kernel_handle process_;
};

TEST_F(ManyFiles, AnInstallerKilledDuringDeploymentIsRepairedByTheNextRun) {
  SeedInstallFolder();
  Remember();
  const std::size_t seeded = CountFiles(installDir_);
  const std::size_t total = seeded + 3000 + 1;  // the launcher is new too
  const fs::path report = logFolder_ / L"runner-final-text.txt";

  InstallerProcess installer(updateHost_, installDir_, report);
  bool filling = false;
  for (int i = 0; i < 6000 && installer.Running() && !filling; ++i) {
    filling = CountFiles(installDir_) > seeded;
    if (!filling) ::Sleep(10);
  }
  const bool killed = installer.Kill();
  ASSERT_TRUE(filling && killed) << "the installer was not caught deploying; it ended with: "
                                 << (fs::exists(report) ? test_support::ReadFile(report)
                                                        : std::string("nothing"));
  const std::size_t present = CountFiles(installDir_);
  EXPECT_LT(present, total) << "the deployment was over before the kill";

  // What the killed run left: the user's data, nothing registered, its own temporary files.
  ExpectUserDataKept(true);
  const install_fault::World left = Look();
  EXPECT_TRUE(left.classes == before_.classes) << "registered before the deployment ended";
  EXPECT_TRUE(left.otherRegistry == before_.otherRegistry);
  EXPECT_TRUE(left.programs == before_.programs) << "a shortcut before the deployment ended";
  EXPECT_TRUE(left.desktop == before_.desktop) << "a shortcut before the deployment ended";
  const std::set<std::wstring> killedRunFiles = {PackageName(installer.id()), StagingName(installer.id())};
  EXPECT_EQ(left.runTemp, killedRunFiles);

  ExpectCleanInstall(Run(), killedRunFiles);
  std::printf("killed with %zu of %zu files in the install folder\n", present, total);
}

}  // namespace
