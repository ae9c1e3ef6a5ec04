#include "bass/devices.h"

#include <initguid.h>

#include <mmsystem.h>
#include <mmddk.h>
#include <mmdeviceapi.h>
#include <functiondiscoverykeys_devpkey.h>

#include <list>
#include <mutex>

#include "bass/bass.h"

namespace {

std::mutex PoolLock;
std::list<std::string> Pool; // texts handed out stay valid for the process

const char* Intern(const std::string& text)
{
    std::lock_guard<std::mutex> hold(PoolLock);
    for (const std::string& s : Pool)
        if (s == text)
            return s.c_str();
    Pool.push_back(text);
    return Pool.back().c_str();
}

std::string ToAnsi(const wchar_t* text)
{
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return std::string();
    std::string out(n - 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr);
    return out;
}

// Keeps COM usable on the caller's thread whatever apartment it chose.
struct ComScope {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ~ComScope()
    {
        if (SUCCEEDED(hr))
            CoUninitialize();
    }
};

std::wstring FriendlyName(const std::wstring& endpoint)
{
    std::wstring name;
    IMMDeviceEnumerator* enumerator = nullptr;
    IMMDevice* device = nullptr;
    IPropertyStore* props = nullptr;
    if (SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                   (void**)&enumerator)) &&
        SUCCEEDED(enumerator->GetDevice(endpoint.c_str(), &device)) &&
        SUCCEEDED(device->OpenPropertyStore(STGM_READ, &props))) {
        PROPVARIANT value;
        PropVariantInit(&value);
        if (SUCCEEDED(props->GetValue(PKEY_Device_FriendlyName, &value)) && value.vt == VT_LPWSTR)
            name = value.pwszVal;
        PropVariantClear(&value);
    }
    if (props)
        props->Release();
    if (device)
        device->Release();
    if (enumerator)
        enumerator->Release();
    return name;
}

std::wstring DefaultEndpoint()
{
    std::wstring id;
    IMMDeviceEnumerator* enumerator = nullptr;
    IMMDevice* device = nullptr;
    LPWSTR text = nullptr;
    if (SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                   (void**)&enumerator)) &&
        SUCCEEDED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device)) && SUCCEEDED(device->GetId(&text))) {
        id = text;
        CoTaskMemFree(text);
    }
    if (device)
        device->Release();
    if (enumerator)
        enumerator->Release();
    return id;
}

} // namespace

int DeviceCount()
{
    return (int)waveOutGetNumDevs();
}

bool DeviceEndpoint(int device, std::wstring* endpoint)
{
    if (device < 1 || device > DeviceCount())
        return false;
    HWAVEOUT wave = (HWAVEOUT)(UINT_PTR)(device - 1);
    ULONG size = 0;
    if (waveOutMessage(wave, DRV_QUERYFUNCTIONINSTANCEIDSIZE, (DWORD_PTR)&size, 0) != MMSYSERR_NOERROR || size < 2)
        return false;
    std::wstring id(size / sizeof(wchar_t), L'\0');
    if (waveOutMessage(wave, DRV_QUERYFUNCTIONINSTANCEID, (DWORD_PTR)&id[0], size) != MMSYSERR_NOERROR)
        return false;
    id.resize(wcslen(id.c_str()));
    *endpoint = id;
    return !id.empty();
}

bool DeviceDescribe(int device, const char** name, const char** driver, DWORD* flags)
{
    if (device < 1 || device > DeviceCount())
        return false;
    WAVEOUTCAPSW caps = {};
    if (waveOutGetDevCapsW((UINT_PTR)(device - 1), &caps, sizeof(caps)) != MMSYSERR_NOERROR)
        return false;
    ComScope com;
    std::wstring endpoint, full;
    if (DeviceEndpoint(device, &endpoint))
        full = FriendlyName(endpoint);
    // waveOut names are cut at 31 characters; the endpoint has the whole one.
    *name = Intern(ToAnsi(full.empty() ? caps.szPname : full.c_str()));
    *driver = Intern(ToAnsi(endpoint.c_str()));
    *flags = BASS_DEVICE_ENABLED;
    if (!endpoint.empty() && endpoint == DefaultEndpoint())
        *flags |= BASS_DEVICE_DEFAULT;
    return true;
}
