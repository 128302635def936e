#include "platform/CaptureCapabilities.h"

#include <grp.h>
#include <pwd.h>
#include <sys/auxv.h>
#include <sys/capability.h>
#include <unistd.h>

#include <cstdlib>

namespace qhs {

namespace {

constexpr cap_value_t CaptureCapabilityList[] = {CAP_NET_RAW};
constexpr int CaptureCapabilityCount = 1;

// Sets the effective flag of the capture capabilities the thread holds as permitted.
bool setEffective(cap_flag_value_t value) {
    cap_t capabilities = cap_get_proc();
    if (capabilities == nullptr) {
        return false;
    }
    cap_value_t held[CaptureCapabilityCount];
    int heldCount = 0;
    for (const cap_value_t capability : CaptureCapabilityList) {
        cap_flag_value_t permitted = CAP_CLEAR;
        if (cap_get_flag(capabilities, capability, CAP_PERMITTED, &permitted) == 0 &&
            permitted == CAP_SET) {
            held[heldCount++] = capability;
        }
    }
    bool changed = false;
    if (heldCount > 0 && cap_set_flag(capabilities, CAP_EFFECTIVE, heldCount, held, value) == 0) {
        changed = cap_set_proc(capabilities) == 0;
    }
    cap_free(capabilities);
    return changed;
}

// Variables through which Qt or a library it loads would load code, or configuration that
// names code, from a folder the user chose. Variables that only choose among what the
// system has installed (QT_QPA_PLATFORM, QT_STYLE_OVERRIDE, QT_QPA_PLATFORMTHEME,
// QT_IM_MODULE, QT_XCB_GL_INTEGRATION) stay: with the paths gone they can name nothing else.
constexpr const char* CodePathVariables[] = {
    // Qt: plugin folders (styles, platforms, themes, input methods, image formats), its
    // logging rules and font folder.
    "QT_PLUGIN_PATH",
    "QT_QPA_PLATFORM_PLUGIN_PATH",
    "QT_QPA_FONTDIR",
    "QT_LOGGING_CONF",
    "QT_XKB_CONFIG_ROOT",
    // fontconfig's configuration, which may name font files and folders anywhere.
    "FONTCONFIG_FILE",
    "FONTCONFIG_PATH",
    "FONTCONFIG_SYSROOT",
    // Mesa, libglvnd, EGL and Vulkan: driver and vendor libraries and their manifests (a
    // vendor name becomes part of a library path).
    "LIBGL_DRIVERS_PATH",
    "LIBGL_DRIVERS_DIR",
    "__EGL_VENDOR_LIBRARY_DIRS",
    "__EGL_VENDOR_LIBRARY_FILENAMES",
    "__GLX_VENDOR_LIBRARY_NAME",
    "__EGL_EXTERNAL_PLATFORM_CONFIG_DIRS",
    "__EGL_EXTERNAL_PLATFORM_CONFIG_FILENAMES",
    "GBM_BACKENDS_PATH",
    "VK_ICD_FILENAMES",
    "VK_DRIVER_FILES",
    "VK_ADD_DRIVER_FILES",
    "VK_LAYER_PATH",
    "VK_ADD_LAYER_PATH",
    // GTK and GLib, loaded by the GTK platform theme: modules and their caches.
    "GTK_PATH",
    "GTK_MODULES",
    "GTK3_MODULES",
    "GTK_EXE_PREFIX",
    "GTK_DATA_PREFIX",
    "GTK_IM_MODULE_FILE",
    "GIO_EXTRA_MODULES",
    "GIO_MODULE_DIR",
    "GDK_PIXBUF_MODULE_FILE",
    "GDK_PIXBUF_MODULEDIR",
    "GSETTINGS_SCHEMA_DIR",
    // X libraries: locale tables, keyboard and compose files, cursor themes.
    "XLOCALEDIR",
    "XKB_CONFIG_ROOT",
    "XKB_CONFIG_EXTRA_PATH",
    "XCOMPOSEFILE",
    "XCURSOR_PATH",
    // ALSA (for the new-packet sound): its configuration loads plugins; PulseAudio's client
    // configuration; LADSPA plugins.
    "ALSA_CONFIG_PATH",
    "ALSA_CONFIG_DIR",
    "ALSA_PLUGIN_DIR",
    "PULSE_CLIENTCONFIG",
    "LADSPA_PATH",
    // OpenSSL (the version check): its configuration loads engines and providers.
    "OPENSSL_CONF",
    "OPENSSL_MODULES",
    "OPENSSL_ENGINES",
    // ICU's data file.
    "ICU_DATA",
};

}  // namespace

bool mayOpenCaptures() {
    cap_t capabilities = cap_get_proc();
    if (capabilities == nullptr) {
        return false;
    }
    bool held = true;
    for (const cap_value_t capability : CaptureCapabilityList) {
        cap_flag_value_t permitted = CAP_CLEAR;
        held = held && cap_get_flag(capabilities, capability, CAP_PERMITTED, &permitted) == 0 &&
               permitted == CAP_SET;
    }
    cap_free(capabilities);
    return held;
}

bool runsWithCapabilities() {
    if (::getauxval(AT_SECURE) != 0) {
        return true;
    }
    cap_t capabilities = cap_get_proc();
    if (capabilities == nullptr) {
        return true;
    }
    cap_t none = cap_init();
    const bool holds = none == nullptr || cap_compare(capabilities, none) != 0;
    cap_free(none);
    cap_free(capabilities);
    return holds;
}

void clearCodePathsFromEnvironment() {
    if (!runsWithCapabilities()) {
        return;
    }
    for (const char* name : CodePathVariables) {
        ::unsetenv(name);
    }
}

bool dropPrivileges() {
    if (::geteuid() == 0) {
        const char* userText = std::getenv("SUDO_UID");
        const char* groupText = std::getenv("SUDO_GID");
        char* end = nullptr;
        const unsigned long user = userText != nullptr ? std::strtoul(userText, &end, 10) : 0;
        const bool userGiven = userText != nullptr && *userText != '\0' && *end == '\0';
        const unsigned long group = groupText != nullptr ? std::strtoul(groupText, &end, 10) : 0;
        const bool groupGiven = groupText != nullptr && *groupText != '\0' && *end == '\0';
        if (userGiven && groupGiven && user != 0) {
            const auto uid = static_cast<uid_t>(user);
            const auto gid = static_cast<gid_t>(group);
            const passwd* entry = ::getpwuid(uid);
            const bool grouped = entry != nullptr ? ::initgroups(entry->pw_name, gid) == 0
                                                  : ::setgroups(1, &gid) == 0;
            if (!grouped || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
                return false;
            }
        }
    }
    cap_t none = cap_init();
    const bool dropped = none != nullptr && cap_set_proc(none) == 0;
    cap_free(none);
    return dropped;
}

void lowerCaptureCapabilities() {
    if (::geteuid() != 0) {
        setEffective(CAP_CLEAR);
    }
}

RaisedCaptureCapabilities::RaisedCaptureCapabilities() {
    if (::geteuid() != 0) {
        raised_ = setEffective(CAP_SET);
    }
}

RaisedCaptureCapabilities::~RaisedCaptureCapabilities() {
    if (raised_) {
        setEffective(CAP_CLEAR);
    }
}

}  // namespace qhs
