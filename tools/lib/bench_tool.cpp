// Measurements for tools/bench that need the program's own code in a
// Windows process:
//   bench_tool progress URL FILE   downloads with the installer's progress
//                                  callback; prints the messages it posted
//   bench_tool foldersize FOLDER   times FolderSize
//   bench_tool unpack ZIP FOLDER   times UnpackPackage (tar.exe started the
//                                  way the program starts it)
//   bench_tool download URL FILE   times HttpDownload alone (no window)
//   bench_tool crc32 MIB            times Crc32 over MIB MiB in memory
//   bench_tool readall FOLDER       reads every file below FOLDER once, in
//                                  1 MiB blocks, as the installed-file check
//                                  does but without the checksum
//   bench_tool flush ZIP FOLDER     times UnpackPackage, then the stamps of
//                                  every file it wrote, flushed to the disk
//                                  first (FlushedStampOf) and not (StampOf)
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

#include <vector>

#include "integration/registration.h"
#include "pipeline/installed_files.h"
#include "platform/crc32.h"
#include "platform/sizes.h"
#include "pipeline/package_progress.h"
#include "core/setup_state.h"
#include "transfer/http_download.h"
#include "transfer/unpack.h"
#include "pipeline/worker_messages.h"

namespace {

long g_status = 0;
long g_progress = 0;

LRESULT CALLBACK Count(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_SETUP_STATUS) {
    ++g_status;
    TakePostedText(lp);
    return 0;
  }
  if (msg == WM_SETUP_PROGRESS) {
    ++g_progress;
    return 0;
  }
  return DefWindowProcW(w, msg, wp, lp);
}

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<double>(b.QuadPart - a.QuadPart) /
         static_cast<double>(f.QuadPart);
}

// The window that receives the messages runs on its own thread, as the
// setup window does, so the posting thread never fills its own queue.
int Progress(const wchar_t* url, const wchar_t* file) {
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD receiverThread = 0;
  std::thread receiver([&] {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Count;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"GormEkBenchCounter";
    RegisterClassW(&wc);
    g_state.mainWindow =
        CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                        nullptr, wc.hInstance, nullptr);
    receiverThread = GetCurrentThreadId();
    SetEvent(ready);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
      DispatchMessageW(&msg);
  });
  WaitForSingleObject(ready, INFINITE);
  CloseHandle(ready);
  int version = 42;
  std::int64_t lastMiB = -1;
  int lastPosition = -1;
  int barFrom = 0;
  std::int64_t bytes = 0;
  std::wstring error;
  const bool ok = HttpDownload(
      url, nullptr, file,
      [&](std::int64_t received, std::int64_t total) {
        bytes = received;
        return PackageProgress{version, lastMiB, lastPosition, barFrom}(
            received, total);
      },
      error);
  // Everything posted is handled before the count is read.
  SendMessageW(g_state.mainWindow, WM_NULL, 0, 0);
  PostThreadMessageW(receiverThread, WM_QUIT, 0, 0);
  receiver.join();
  const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
  printf("{\"ok\":%s,\"mib\":%.1f,\"status\":%ld,\"progress\":%ld}\n",
         ok ? "true" : "false", mib, g_status, g_progress);
  return ok ? 0 : 1;
}

int Size(const wchar_t* folder) {
  LARGE_INTEGER a, b;
  QueryPerformanceCounter(&a);
  const std::uint64_t bytes = FolderSize(folder);
  QueryPerformanceCounter(&b);
  printf("{\"bytes\":%llu,\"seconds\":%.3f}\n",
         static_cast<unsigned long long>(bytes), Seconds(a, b));
  return 0;
}

// HttpDownload alone: no window, no progress messages.
int Download(const wchar_t* url, const wchar_t* file) {
  LARGE_INTEGER a, b;
  QueryPerformanceCounter(&a);
  std::wstring error;
  const bool ok = HttpDownload(url, nullptr, file, {}, error);
  QueryPerformanceCounter(&b);
  printf("{\"ok\":%s,\"seconds\":%.3f}\n", ok ? "true" : "false",
         Seconds(a, b));
  return ok ? 0 : 1;
}

int Unpack(const wchar_t* zip, const wchar_t* dest) {
  LARGE_INTEGER a, b;
  QueryPerformanceCounter(&a);
  std::wstring error;
  const bool ok = UnpackPackage(zip, dest, error);
  QueryPerformanceCounter(&b);
  printf("{\"ok\":%s,\"seconds\":%.3f}\n", ok ? "true" : "false",
         Seconds(a, b));
  return ok ? 0 : 1;
}

// Crc32 alone, over bytes already in memory: what it costs beside the disk.
int Crc(const wchar_t* mibText) {
  const std::size_t mib = std::wcstoul(mibText, nullptr, 10);
  std::vector<unsigned char> bytes(mib * 1024 * 1024);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<unsigned char>(i * 2654435761u >> 24);
  LARGE_INTEGER a, b;
  QueryPerformanceCounter(&a);
  const std::uint32_t crc = Crc32(0, bytes.data(), bytes.size());
  QueryPerformanceCounter(&b);
  const double seconds = Seconds(a, b);
  printf("{\"crc\":%lu,\"seconds\":%.3f,\"mb_per_s\":%.0f}\n",
         static_cast<unsigned long>(crc), seconds,
         static_cast<double>(bytes.size()) / 1e6 / seconds);
  return 0;
}

// Every file below folder, into files.
void ListTree(const std::wstring& folder, std::vector<std::wstring>& files) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE)
    return;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..")
      continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ListTree(folder + L"\\" + name, files);
    else
      files.push_back(folder + L"\\" + name);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
}

// Right after tar.exe wrote them, as the worker stamps them: what flushing
// each file first costs beside the stamp alone.
int Flush(const wchar_t* zip, const wchar_t* dest) {
  LARGE_INTEGER a, b, c, d;
  std::wstring error;
  QueryPerformanceCounter(&a);
  if (!UnpackPackage(zip, dest, error))
    return 1;
  QueryPerformanceCounter(&b);
  std::vector<std::wstring> files;
  ListTree(dest, files);
  int stamped = 0;
  for (const std::wstring& f : files)
    stamped += FlushedStampOf(f).size >= 0;
  QueryPerformanceCounter(&c);
  for (const std::wstring& f : files)
    stamped -= StampOf(f).size >= 0;
  QueryPerformanceCounter(&d);
  printf(
      "{\"files\":%zu,\"unpack\":%.3f,\"flushed\":%.3f,\"stat\":%.3f,"
      "\"missed\":%d}\n",
      files.size(), Seconds(a, b), Seconds(b, c), Seconds(c, d), stamped);
  return 0;
}

// Reads the file once; adds its bytes to total.
void ReadOnce(const std::wstring& path,
              std::vector<char>& buffer,
              std::uint64_t& total) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return;
  DWORD read = 0;
  while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read,
                  nullptr) &&
         read > 0)
    total += read;
  CloseHandle(file);
}

int ReadAll(const wchar_t* folder) {
  std::vector<char> buffer(1024 * 1024);
  std::uint64_t total = 0;
  LARGE_INTEGER a, b;
  QueryPerformanceCounter(&a);
  std::vector<std::wstring> files;
  ListTree(folder, files);
  for (const std::wstring& f : files)
    ReadOnce(f, buffer, total);
  QueryPerformanceCounter(&b);
  const double seconds = Seconds(a, b);
  printf("{\"bytes\":%llu,\"seconds\":%.3f}\n",
         static_cast<unsigned long long>(total), seconds);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wstring(argv[1]) == L"progress")
    return Progress(argv[2], argv[3]);
  if (argc == 3 && std::wstring(argv[1]) == L"foldersize")
    return Size(argv[2]);
  if (argc == 4 && std::wstring(argv[1]) == L"unpack")
    return Unpack(argv[2], argv[3]);
  if (argc == 4 && std::wstring(argv[1]) == L"download")
    return Download(argv[2], argv[3]);
  if (argc == 3 && std::wstring(argv[1]) == L"crc32")
    return Crc(argv[2]);
  if (argc == 3 && std::wstring(argv[1]) == L"readall")
    return ReadAll(argv[2]);
  if (argc == 4 && std::wstring(argv[1]) == L"flush")
    return Flush(argv[2], argv[3]);
  fputs(
      "usage: bench_tool progress URL FILE | foldersize FOLDER | unpack ZIP "
      "FOLDER | download URL FILE | crc32 MIB | readall FOLDER | flush ZIP "
      "FOLDER\n",
      stderr);
  return 2;
}
