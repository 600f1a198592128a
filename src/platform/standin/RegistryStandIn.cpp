#include "testing/RegistryStandIn.h"

#include <atomic>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <unordered_set>

namespace tirsel::kvl::agent::driver::platform::standin {

namespace {

struct Service {
    std::map<std::string, detail::Property> properties;
};

// Services by class name; written by tests, read by any number of threads.
struct Store {
    std::shared_mutex mutex;
    std::map<std::string, Service> services;
};

// What has been handed out and not yet given back.
struct Outstanding {
    std::mutex mutex;
    unsigned int nextHandle = 0x1000;
    std::unordered_map<unsigned int, std::string> handles;
    std::unordered_set<const void*> objects;
    std::unordered_map<unsigned int, std::size_t> portReferences;
    std::atomic<std::size_t> invalidReleases{0};
};

Store& TheStore() {
    static Store store;
    return store;
}

Outstanding& TheOutstanding() {
    static Outstanding outstanding;
    return outstanding;
}

// The caller holds the mutex.
std::size_t PortReferences(const Outstanding& outstanding) {
    std::size_t ports = 0;
    for (const auto& port : outstanding.portReferences) {
        ports += port.second;
    }
    return ports;
}

void SetProperty(const std::string& className, const std::string& key, detail::Property value) {
    Store& store = TheStore();
    std::unique_lock lock(store.mutex);
    store.services[className].properties[key] = std::move(value);
}

}  // namespace

void AddService(const std::string& className) {
    Store& store = TheStore();
    std::unique_lock lock(store.mutex);
    store.services.try_emplace(className);
}

void SetDataProperty(const std::string& className, const std::string& key,
                     const PropertyBytes& bytes) {
    detail::Property value;
    value.bytes = bytes;
    SetProperty(className, key, std::move(value));
}

void SetDataProperty(const std::string& className, const std::string& key,
                     const std::string& bytes) {
    SetDataProperty(className, key, PropertyBytes(bytes.begin(), bytes.end()));
}

void SetNonDataProperty(const std::string& className, const std::string& key,
                        const std::string& text) {
    detail::Property value;
    value.isData = false;
    value.text = text;
    SetProperty(className, key, std::move(value));
}

void ClearRegistry() {
    Store& store = TheStore();
    std::unique_lock lock(store.mutex);
    store.services.clear();
}

std::size_t OutstandingReferences() {
    Outstanding& outstanding = TheOutstanding();
    std::lock_guard lock(outstanding.mutex);
    return outstanding.handles.size() + outstanding.objects.size() + PortReferences(outstanding);
}

std::size_t OutstandingPortReferences() {
    Outstanding& outstanding = TheOutstanding();
    std::lock_guard lock(outstanding.mutex);
    return PortReferences(outstanding);
}

std::size_t InvalidReleases() {
    return TheOutstanding().invalidReleases.load();
}

namespace detail {

unsigned int OpenService(const std::string& className) {
    {
        Store& store = TheStore();
        std::shared_lock lock(store.mutex);
        if (store.services.count(className) == 0) {
            return 0;
        }
    }
    Outstanding& outstanding = TheOutstanding();
    std::lock_guard lock(outstanding.mutex);
    const unsigned int handle = outstanding.nextHandle++;
    outstanding.handles.emplace(handle, className);
    return handle;
}

std::optional<std::string> ServiceClass(unsigned int handle) {
    Outstanding& outstanding = TheOutstanding();
    std::lock_guard lock(outstanding.mutex);
    const auto found = outstanding.handles.find(handle);
    if (found == outstanding.handles.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool CloseService(unsigned int handle) {
    Outstanding& outstanding = TheOutstanding();
    std::lock_guard lock(outstanding.mutex);
    if (outstanding.handles.erase(handle) == 0) {
        ++outstanding.invalidReleases;
        return false;
    }
    return true;
}

std::optional<Property> FindProperty(const std::string& className, const std::string& key) {
    Store& store = TheStore();
    std::shared_lock lock(store.mutex);
    const auto service = store.services.find(className);
    if (service == store.services.end()) {
        return std::nullopt;
    }
    const auto property = service->second.properties.find(key);
    if (property == service->second.properties.end()) {
        return std::nullopt;
    }
    return property->second;
}

void AcquirePort(unsigned int name) {
    Outstanding& outstanding = TheOutstanding();
    std::lock_guard lock(outstanding.mutex);
    ++outstanding.portReferences[name];
}

bool ReleasePort(unsigned int name) {
    Outstanding& outstanding = TheOutstanding();
    std::lock_guard lock(outstanding.mutex);
    const auto found = outstanding.portReferences.find(name);
    if (found == outstanding.portReferences.end()) {
        ++outstanding.invalidReleases;
        return false;
    }
    if (--found->second == 0) {
        outstanding.portReferences.erase(found);
    }
    return true;
}

void TrackObject(const void* object) {
    Outstanding& outstanding = TheOutstanding();
    std::lock_guard lock(outstanding.mutex);
    outstanding.objects.insert(object);
}

bool UntrackObject(const void* object) {
    Outstanding& outstanding = TheOutstanding();
    std::lock_guard lock(outstanding.mutex);
    if (outstanding.objects.erase(object) == 0) {
        ++outstanding.invalidReleases;
        return false;
    }
    return true;
}

}  // namespace detail

}  // namespace tirsel::kvl::agent::driver::platform::standin
