// Opening plug-ins and calling their gateways.
#include "mexhost/host.h"

#include "array.h"
#include "context.h"

#include <cstdint>
#include <cstring>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace mexhost {
namespace {

// A 64-bit digest of everything a call may not change in an input.
class digest {
public:
    void add(const void* data, std::size_t bytes) {
        const auto* p = static_cast<const unsigned char*>(data);
        std::size_t i = 0;
        for (; i + 8 <= bytes; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, p + i, 8);
            mix(word);
        }
        std::uint64_t tail = 0;
        std::memcpy(&tail, p + i, bytes - i);
        mix(tail ^ (static_cast<std::uint64_t>(bytes) << 56));
    }
    void add_array(const mxArray* a) {
        const std::uint64_t header[] = {static_cast<std::uint64_t>(a->class_id),
                                        static_cast<std::uint64_t>(a->complex),
                                        static_cast<std::uint64_t>(a->sparse), a->dims.size(),
                                        static_cast<std::uint64_t>(a->nzmax)};
        add(header, sizeof header);
        add(a->dims.data(), a->dims.size() * sizeof(mwSize));
        for (const mxArray* element : a->cells) {
            if (element != nullptr) add_array(element);
            else mix(0x9e3779b97f4a7c15ULL);
        }
        if (a->class_id == mxCELL_CLASS) return;
        add(a->real, a->data_bytes);
        if (a->complex) add(a->imag, a->data_bytes);
        if (a->sparse) {
            add(a->ir, static_cast<std::size_t>(a->nzmax) * sizeof(mwIndex));
            add(a->jc, (a->columns() + 1) * sizeof(mwIndex));
        }
    }
    std::uint64_t value() const { return state_; }

private:
    void mix(std::uint64_t word) {
        state_ ^= word + 0x9e3779b97f4a7c15ULL + (state_ << 6) + (state_ >> 2);
        state_ *= 0xff51afd7ed558ccdULL;
        state_ ^= state_ >> 33;
    }
    std::uint64_t state_ = 0xcbf29ce484222325ULL;
};

std::uint64_t fingerprint(const mxArray* a) {
    digest d;
    d.add_array(a);
    return d.value();
}

// The output slots that the gateway sees; exactly as many as the host gives, so that a write
// past them is caught by the sanitizers.
struct output_slots {
    explicit output_slots(int count) : slots(new mxArray*[static_cast<std::size_t>(count)]()), count(count) {}
    std::unique_ptr<mxArray*[]> slots;
    int count;
};

}  // namespace

std::vector<array_ptr> call_gateway(gateway entry, int nlhs, const std::vector<const mxArray*>& inputs,
                                    call_stats* stats, call_options options) {
    if (nlhs < 0) throw std::invalid_argument("negative number of outputs");
    std::vector<std::uint64_t> before;
    if (options.check_inputs)
        for (const mxArray* input : inputs) before.push_back(fingerprint(input));

    output_slots out(nlhs > 0 ? nlhs : 1);
    std::vector<array_ptr> results;
    std::vector<const mxArray*> arguments(inputs);
    {
        call_context context(arguments.data(), static_cast<int>(arguments.size()));
        struct stats_sink {
            call_context& context;
            call_stats* target;
            ~stats_sink() {
                if (target != nullptr) {
                    context.reclaim();
                    *target = context.stats();
                }
            }
        } sink{context, stats};

        entry(nlhs, out.slots.get(), static_cast<int>(arguments.size()), arguments.data());

        for (int i = 0; i < out.count; ++i) {
            mxArray* slot = out.slots[static_cast<std::size_t>(i)];
            if (slot == nullptr) {
                if (i < nlhs) fault("the plug-in left output " + std::to_string(i + 1) + " unset");
                continue;
            }
            results.emplace_back(context.hand_out(slot));
        }
    }
    if (options.check_inputs)
        for (std::size_t i = 0; i < inputs.size(); ++i)
            if (fingerprint(inputs[i]) != before[i])
                fault("the plug-in changed input " + std::to_string(i + 1));
    return results;
}

plugin::plugin(const std::string& path) : path_(path) {
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) throw load_error("cannot load plug-in " + path);
    handle_ = module;
#else
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw load_error("cannot load plug-in " + path + ": " + dlerror());
#endif
    entry_ = reinterpret_cast<gateway>(symbol("mexFunction"));
    if (entry_ == nullptr) {
        close();
        throw load_error("plug-in " + path + " has no mexFunction");
    }
}

plugin::~plugin() { close(); }

void* plugin::symbol(const char* name) const noexcept {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
}

void plugin::close() noexcept {
    if (handle_ == nullptr) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
    handle_ = nullptr;
}

plugin::plugin(plugin&& other) noexcept
    : path_(std::move(other.path_)), handle_(std::exchange(other.handle_, nullptr)),
      entry_(std::exchange(other.entry_, nullptr)), stats_(std::move(other.stats_)) {}

plugin& plugin::operator=(plugin&& other) noexcept {
    if (this != &other) {
        close();
        path_ = std::move(other.path_);
        handle_ = std::exchange(other.handle_, nullptr);
        entry_ = std::exchange(other.entry_, nullptr);
        stats_ = std::move(other.stats_);
    }
    return *this;
}

std::vector<array_ptr> plugin::call(int nlhs, const std::vector<const mxArray*>& inputs, call_options options) {
    stats_ = call_stats{};
    return call_gateway(entry_, nlhs, inputs, &stats_, options);
}

std::string plugin_file_name(const std::string& name) {
#if defined(_WIN32) && defined(_WIN64)
    return name + ".mexw64";
#elif defined(_WIN32)
    return name + ".mexw32";
#elif defined(__i386__)
    return name + ".mexglx";
#else
    return name + ".mexa64";
#endif
}

}  // namespace mexhost
