#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "FirmwarePathsOverride.h"
#include "RegistryStandIn.h"
#include "TempDir.h"
#include "platform/CFReference.h"
#include "platform/FileDescriptor.h"
#include "platform/FirmwarePaths.h"
#include "platform/IOKit.h"
#include "platform/MemoryMapping.h"
#include "platform/RegistryObject.h"

namespace {

using grellan::testing::TempDir;
namespace platform = tirsel::kvl::agent::driver::platform;
namespace standin = tirsel::kvl::agent::driver::platform::standin;

class RegistryStandInTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(standin::OutstandingReferences(), 0U); }

    static io_service_t Lookup(const char* className) {
        mach_port_t port = MACH_PORT_NULL;
        EXPECT_EQ(IOMasterPort(MACH_PORT_NULL, &port), KERN_SUCCESS);
        const io_service_t service =
            IOServiceGetMatchingService(port, IOServiceMatching(className));
        EXPECT_EQ(mach_port_deallocate(mach_task_self(), port), KERN_SUCCESS);
        return service;
    }

    standin::ScopedRegistry registry;
};

TEST_F(RegistryStandInTest, ServesDataPropertiesAndCountsReferences) {
    standin::SetDataProperty("IOPlatformExpertDevice", "mlb-serial-number",
                             std::string("C0290000\0\0\0", 11));

    CFMutableDictionaryRef matching = IOServiceMatching("IOPlatformExpertDevice");
    EXPECT_EQ(standin::OutstandingReferences(), 1U);
    const io_service_t service = IOServiceGetMatchingService(MACH_PORT_NULL, matching);
    ASSERT_NE(service, IO_OBJECT_NULL);
    EXPECT_EQ(standin::OutstandingReferences(), 1U);  // the dictionary was consumed

    const CFTypeRef property = IORegistryEntryCreateCFProperty(service, CFSTR("mlb-serial-number"),
                                                               kCFAllocatorDefault, 0);
    ASSERT_NE(property, nullptr);
    EXPECT_EQ(standin::OutstandingReferences(), 2U);
    ASSERT_EQ(CFGetTypeID(property), CFDataGetTypeID());
    const auto data = static_cast<CFDataRef>(property);
    EXPECT_EQ(CFDataGetLength(data), 11);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(CFDataGetBytePtr(data))), "C0290000");

    EXPECT_EQ(IORegistryEntryCreateCFProperty(service, CFSTR("missing"), kCFAllocatorDefault, 0),
              nullptr);
    CFRelease(property);
    EXPECT_EQ(IOObjectRelease(service), KERN_SUCCESS);
}

TEST_F(RegistryStandInTest, MissingServicesAndOtherPropertyKinds) {
    EXPECT_EQ(Lookup("AppleSMBIOS"), IO_OBJECT_NULL);  // empty registry
    standin::SetNonDataProperty("AppleSMBIOS", "SMBIOS", "not bytes");
    standin::AddService("Empty");

    const platform::RegistryObject service(Lookup("AppleSMBIOS"));
    ASSERT_TRUE(service);
    const platform::CFReference<CFTypeRef> property(
        IORegistryEntryCreateCFProperty(service.Get(), CFSTR("SMBIOS"), kCFAllocatorDefault, 0));
    ASSERT_TRUE(property);
    EXPECT_EQ(CFGetTypeID(property.Get()), CFStringGetTypeID());
    EXPECT_FALSE(platform::DataBytes(property.Get()));

    const platform::RegistryObject empty(Lookup("Empty"));
    EXPECT_TRUE(empty);
    EXPECT_EQ(IORegistryEntryCreateCFProperty(empty.Get(), CFSTR("SMBIOS"), kCFAllocatorDefault, 0),
              nullptr);
}

TEST_F(RegistryStandInTest, ConstantStringsAndReleasesOfWhatIsNotOutstanding) {
    EXPECT_EQ(CFSTR("SMBIOS"), CFSTR("SMBIOS"));
    EXPECT_NE(CFSTR("SMBIOS"), CFSTR("SMBIOS-EPS"));
    const std::size_t invalid = standin::InvalidReleases();
    CFRelease(CFSTR("SMBIOS"));  // constants are immortal
    EXPECT_EQ(standin::InvalidReleases(), invalid);

    standin::SetDataProperty("S", "k", std::string("v"));
    const io_service_t service = Lookup("S");
    const CFTypeRef property =
        IORegistryEntryCreateCFProperty(service, CFSTR("k"), kCFAllocatorDefault, 0);
    CFRelease(property);
    CFRelease(property);
    EXPECT_EQ(IOObjectRelease(service), KERN_SUCCESS);
    EXPECT_NE(IOObjectRelease(service), KERN_SUCCESS);
    EXPECT_EQ(standin::InvalidReleases(), invalid + 2);
}

TEST_F(RegistryStandInTest, HoldersReleaseOnEveryPathAndMoveOwnership) {
    standin::SetDataProperty("S", "k", std::string("value"));
    {
        platform::RegistryObject first(Lookup("S"));
        platform::RegistryObject second(std::move(first));
        EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): moved-from is empty
        platform::CFReference<CFTypeRef> property(
            IORegistryEntryCreateCFProperty(second.Get(), CFSTR("k"), kCFAllocatorDefault, 0));
        platform::CFReference<CFTypeRef> other(
            IORegistryEntryCreateCFProperty(second.Get(), CFSTR("k"), kCFAllocatorDefault, 0));
        other = std::move(property);  // gives back what `other` held
        const auto bytes = platform::DataBytes(other.Get());
        ASSERT_TRUE(bytes);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes->bytes), bytes->length), "value");
        EXPECT_EQ(standin::OutstandingReferences(), 2U);
    }
    EXPECT_EQ(standin::OutstandingReferences(), 0U);
}

TEST_F(RegistryStandInTest, ConcurrentReaders) {
    standin::SetDataProperty("IOPlatformExpertDevice", "mlb-serial-number",
                             std::string("BOARD\0", 6));
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                const platform::RegistryObject service(Lookup("IOPlatformExpertDevice"));
                const platform::CFReference<CFTypeRef> property(IORegistryEntryCreateCFProperty(
                    service.Get(), CFSTR("mlb-serial-number"), kCFAllocatorDefault, 0));
                const auto bytes = platform::DataBytes(property.Get());
                if (!bytes || std::string(reinterpret_cast<const char*>(bytes->bytes)) != "BOARD") {
                    ++mismatches;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(FirmwarePaths, ExistenceAndTheScopedOverride) {
    TempDir dir;
    const std::string file = dir.Write("present", "x");
    EXPECT_TRUE(platform::FileSystemPathExists(file));
    EXPECT_TRUE(platform::FileSystemPathExists(dir.Path()));
    EXPECT_FALSE(platform::FileSystemPathExists(dir.Path() + "/absent"));
    EXPECT_FALSE(platform::FileSystemPathExists(file + "/below-a-file"));
    // Links are followed: a link to the file exists, a dangling one does not.
    ASSERT_EQ(::symlink(file.c_str(), (dir.Path() + "/to-file").c_str()), 0);
    ASSERT_EQ(::symlink("absent", (dir.Path() + "/dangling").c_str()), 0);
    EXPECT_TRUE(platform::FileSystemPathExists(dir.Path() + "/to-file"));
    EXPECT_FALSE(platform::FileSystemPathExists(dir.Path() + "/dangling"));

    EXPECT_EQ(platform::CurrentFirmwarePaths().memoryDevice, "/dev/mem");
    EXPECT_EQ(platform::CurrentFirmwarePaths().efiSystab, "/sys/firmware/efi/systab");
    EXPECT_EQ(platform::CurrentFirmwarePaths().procEfiSystab, "/proc/efi/systab");
    {
        platform::FirmwarePathOverride paths;
        paths.memoryDevice = file;
        paths.exists = [](const std::string& path) { return path == "/dev/mem"; };
        const platform::ScopedFirmwarePaths scoped(paths);
        EXPECT_EQ(platform::CurrentFirmwarePaths().memoryDevice, file);
        EXPECT_TRUE(platform::PathExists("/dev/mem"));
        EXPECT_FALSE(platform::PathExists(file));
    }
    EXPECT_EQ(platform::CurrentFirmwarePaths().memoryDevice, "/dev/mem");
    EXPECT_TRUE(platform::PathExists(file));
}

TEST(MemoryMapping, MapsAWindowAndFailsCleanly) {
    TempDir dir;
    std::string content(0x3000, '\0');
    content.replace(0x2000, 5, "_SM_X");
    const platform::FileDescriptor fd =
        platform::FileDescriptor::OpenReadOnly(dir.Write("image", content));
    ASSERT_TRUE(fd.IsOpen());
    const platform::MemoryMapping window(fd.Get(), 0x2000, 16);
    ASSERT_TRUE(window.IsValid());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(window.Bytes()), 5), "_SM_X");
    EXPECT_FALSE(platform::MemoryMapping(fd.Get(), 0x10, 16).IsValid());  // not page aligned
    EXPECT_FALSE(platform::MemoryMapping(-1, 0, 16).IsValid());
    EXPECT_FALSE(platform::FileDescriptor::OpenReadOnly(dir.Path() + "/absent").IsOpen());
}

}  // namespace
