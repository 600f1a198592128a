#pragma once

// The in-process registry behind the I/O Kit stand-in, for tests on platforms
// without I/O Kit. Services are found by class name and hold properties by
// key. The shipped library never fills it, so there it has no services.
//
// Fill the registry before starting threads that read it; reads may then run
// on any number of threads at once. The reference count tells a test whether
// any matching dictionary, service handle or property object was left
// unreleased.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tirsel::kvl::agent::driver::platform::standin {

using PropertyBytes = std::vector<unsigned char>;

// Adds a service of `className` without properties (no-op when present).
void AddService(const std::string& className);
// Sets a data property (a CFData object for readers); adds the service too.
void SetDataProperty(const std::string& className, const std::string& key,
                     const PropertyBytes& bytes);
void SetDataProperty(const std::string& className, const std::string& key,
                     const std::string& bytes);
// Sets a property that is not a data object: readers get a CFString of
// `text`, UTF-8.
void SetNonDataProperty(const std::string& className, const std::string& key,
                        const std::string& text);
// Removes every service. Handles and objects already handed out stay valid
// (and outstanding) until released.
void ClearRegistry();

// Matching dictionaries, service handles, property objects and master-port
// references handed out and not yet consumed or released.
std::size_t OutstandingReferences();
// Master-port references from IOMasterPort not yet given back with
// mach_port_deallocate.
std::size_t OutstandingPortReferences();
// Releases of handles, objects or port references that were not outstanding
// (double releases).
std::size_t InvalidReleases();

// Empties the registry on entry and on exit of a test scope.
class ScopedRegistry {
public:
    ScopedRegistry() { ClearRegistry(); }
    ~ScopedRegistry() { ClearRegistry(); }
    ScopedRegistry(const ScopedRegistry&) = delete;
    ScopedRegistry& operator=(const ScopedRegistry&) = delete;
};

// Used by the stand-in's I/O Kit and CoreFoundation functions only.
namespace detail {

struct Property {
    bool isData = true;
    PropertyBytes bytes;  // data properties
    std::string text;     // other properties
};

// A new service handle (never 0) for the first service of `className`, or 0.
unsigned int OpenService(const std::string& className);
// The class of an outstanding handle.
std::optional<std::string> ServiceClass(unsigned int handle);
// False when `handle` was not outstanding.
bool CloseService(unsigned int handle);
std::optional<Property> FindProperty(const std::string& className, const std::string& key);

// One more reference to the port `name`.
void AcquirePort(unsigned int name);
// False when the task holds no reference to `name`.
bool ReleasePort(unsigned int name);

void TrackObject(const void* object);
// False when `object` was not outstanding.
bool UntrackObject(const void* object);

}  // namespace detail

}  // namespace tirsel::kvl::agent::driver::platform::standin
