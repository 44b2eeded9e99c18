// The scripted host program: it plays the spreadsheet program for the real library. It has the
// program's main windows (real ones), exports the add-in callback, loads the library as the
// program loads an add-in, delivers an application as its launcher does, opens the workbook in
// the in-memory program whose objects travel to the library as COM objects, and drives it as a
// user does. The scenarios run in order, each building on the ones before, and the run stops at
// the first that fails; the exit code is non-zero then.
//
// Usage: korvel_win32_host.exe [library]   (default: DeduduzUra.dll beside the program)
//
// A copy of the program is the application's executable in the save scenario, so the library's
// request to its launcher to clean up after it (-clnx workbook -clnd library) starts this program
// again: it then only notes its command line in kCleanupRequest beside itself and ends.
#include <windows.h>
// After windows.h, which it needs.
#include <oleauto.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "compiler/model_builder.h"
#include "compiler/starting_values.h"
#include "compiler/workbook_text.h"
#include "data/data_file.h"
#include "excel/dispatch_ids.h"
#include "functions/function_catalogue.h"
#include "hosts/headless/headless_window_system.h"
#include "hosts/headless/memory_files.h"
#include "hosts/headless/spreadsheet/spreadsheet_program.h"
#include "hosts/win32/com_bridge.h"
#include "hosts/win32/native_xloper.h"
#include "hosts/win32/win32_files.h"
#include "hosts/win32/win32_window_system.h"
#include "model/cell.h"
#include "model/chunk_stream.h"
#include "model/compiled_model.h"
#include "model/envelope.h"
#include "model/model_stream.h"
#include "packaging/application_resources.h"
#include "platform/resources.h"
#include "runtime/addin_entry_points.h"
#include "runtime/excel_bridge.h"
#include "runtime/host_commands.h"
#include "runtime/settings_record.h"
#include "tests/win32/check.h"
#include "tests/win32/scripted_host/dialog_closer.h"
#include "tests/win32/scripted_host/host_windows.h"
#include "tests/win32/scripted_host/hwnd_application.h"
#include "tests/win32/scripted_host/md_callback.h"
#include "tests/win32/scripted_host/workbook_class.h"
#include "tools/korvel/application_file.h"
#include "tools/korvel/launcher.h"
#include "util/text.h"

namespace korvel::win32 {
namespace {

constexpr char kBook[] =
    "[Sheet1]\n"
    "A1: 2\n"
    "A2: 5\n"
    "A3: =A1*A2\n"
    "A4: =A3+1\n"
    "B1: 7\n"
    "B2: =B1*2\n";
constexpr char16_t kWorkbookName[] = u"Application.xlsx";
constexpr char16_t kSheet[] = u"Sheet1";

// The library's exports in ordinal order from 10.
constexpr const char* kExports[] = {"DummyFunc0",  "DummyFunc1", "DummyFunc2",  "DummyFunc3",
                                    "DummyFunc4",  "DummyFunc5", "DummyFunc6",  "DummyFunc7",
                                    "DummyFunc8",  "DummyFunc9", "xlAutoClose", "DummyFunc11",
                                    "DummyFunc12", "DummyFunc13"};
constexpr int kFirstOrdinal = 10;
constexpr wchar_t kCleanupRequest[] = L"cleanup-request.txt";
// The path box of the library's import dialog.
constexpr int kImportPathControl = 1001;

using ChannelEntrance = LRESULT(__stdcall*)(UINT message, WPARAM wParam, LPARAM lParam);
using Procedure = int(__stdcall*)();
using ServiceEntry = NativeXloper*(__stdcall*)(int code, NativeXloper* argument);

// Everything the scenarios share, in the order they build it.
struct Host {
  std::wstring librarySource;
  std::wstring folder;
  std::wstring libraryPath;
  HostWindows windows;
  HMODULE library = nullptr;
  ChannelEntrance channel = nullptr;
  std::unique_ptr<Win32WindowSystem> realWindows;
  MemoryFiles files;
  HeadlessWindowSystem programWindows;
  std::unique_ptr<SpreadsheetProgram> program;
  std::unique_ptr<WorkbookClass> workbookClass;
  std::shared_ptr<HwndApplication> application;
  IDispatch* applicationCom = nullptr;
  // The Application's native table as the program made it, before the library attached.
  std::vector<void*> applicationTable;
  void** applicationTableAddress = nullptr;
  // The library's procedures the program ran, by exported name.
  std::vector<std::string> procedures;
  // What the launcher delivered: the settings record and the model's chunk envelopes.
  std::string settingsRecord;
  std::vector<std::string> deliveredModel;
  // The application's executable, and the bytes the program last wrote for its workbook there.
  std::wstring applicationPath;
  std::string savedWorkbook;
  // Where the program keeps the workbook now.
  std::u16string workbookPath;
  // The machine's files, as the library sees them.
  Win32Files disk;
};

// A function the module exports under the name, as the type the caller declares it with; the cast
// goes through the system's generic function type, which every function type may be cast from.
template <typename Function>
Function exportOf(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

Host& host() {
  static Host* instance = new Host();
  return *instance;
}

std::u16string utf16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

std::wstring moduleFile() {
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

std::wstring moduleFolder() {
  std::wstring text = moduleFile();
  size_t separator = text.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring() : text.substr(0, separator + 1);
}

// Both the real queue and the in-memory program's, until neither has anything left.
void runMessages() {
  for (int round = 0; round < 100; ++round) {
    size_t ran = HostWindows::pumpMessages();
    ran += host().programWindows.runMessageLoop();
    if (ran == 0) return;
  }
}

WNDPROC procedureOf(HWND window) {
  return reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
}

// The message word of an object the program hands to the library: the COM face of the program's
// object at that address. The caller releases the reference.
IDispatch* comPointerAt(uint64_t address) {
  return address == 0 ? nullptr : comObjectFor(Dispatch::fromAddress(address));
}

// The workbook's own code calling the library's channel entrance: object addresses of the
// program become COM pointers for the duration of the call.
int64_t callChannel(uint32_t message, uint64_t wParam, int64_t lParam) {
  ChannelEntrance entrance = host().channel;
  if (entrance == nullptr) return 0;
  if (message != HC_RANGE_CHANGED) return entrance(message, WPARAM(wParam), LPARAM(lParam));
  IDispatch* sheet = comPointerAt(wParam);
  IDispatch* range = comPointerAt(uint64_t(lParam));
  LRESULT answer =
      entrance(message, reinterpret_cast<WPARAM>(sheet), reinterpret_cast<LPARAM>(range));
  if (range != nullptr) range->Release();
  if (sheet != nullptr) sheet->Release();
  return answer;
}

// The program runs a registered command: the library's export of that procedure.
void runProcedure(std::u16string_view name) {
  std::string procedure = narrowText(name);
  for (const XllRegistration& entry : hostAddinCallback().registrations()) {
    if (equalsNoCase(widenText(entry.functionText), name)) procedure = entry.procedure;
  }
  auto function = exportOf<Procedure>(host().library, procedure.c_str());
  if (function == nullptr) return;
  host().procedures.push_back(procedure);
  function();
}

// A property put through the object's IDispatch, as the workbook's code makes it.
HRESULT putProperty(IDispatch* object, DISPID member, VARIANT value) {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS parameters{&value, &named, 1, 1};
  return object->Invoke(member, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYPUT, &parameters,
                        nullptr, nullptr, nullptr);
}

// Application.Calculation as the workbook's code sets it, through COM.
HRESULT setCalculation(IDispatch* application, int32_t mode) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = mode;
  return putProperty(application, dispid::kCalculation, value);
}

HRESULT getProperty(IDispatch* object, DISPID member, VARIANT* result) {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  return object->Invoke(member, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET, &none,
                        result, nullptr, nullptr);
}

// The slots of the object's native table, as many as its type information gives it.
std::vector<void*> tableSlots(IDispatch* object) {
  ITypeInfo* info = nullptr;
  if (FAILED(object->GetTypeInfo(0, LOCALE_SYSTEM_DEFAULT, &info)) || info == nullptr) return {};
  TYPEATTR* attributes = nullptr;
  size_t count = 0;
  if (SUCCEEDED(info->GetTypeAttr(&attributes))) {
    count = attributes->cbSizeVft / sizeof(void*);
    info->ReleaseTypeAttr(attributes);
  }
  info->Release();
  void** table = *reinterpret_cast<void***>(object);
  return std::vector<void*>(table, table + count);
}

int changedSlots(void** table, const std::vector<void*>& before) {
  int changed = 0;
  for (size_t i = 0; i < before.size(); ++i) changed += table[i] != before[i] ? 1 : 0;
  return changed;
}

std::u16string shown(std::u16string_view a1) {
  return host().program->displayText(kWorkbookName, kSheet, a1);
}

bool compile(CompiledModel& model, Workbook& workbook) {
  std::vector<std::string> errors;
  if (!readWorkbookText(kBook, &workbook, &errors)) return false;
  if (!buildModel(workbook, &FunctionCatalogue::instance(), model, &errors)) return false;
  computeStartingValues(model);
  return true;
}

// The program's workbook file: no .xlsx package here, but the cells' values in a text of its own,
// on the machine's disk where the library's save reads it.
std::string workbookFileText(const WorkbookData& data) {
  std::string text;
  for (const SheetData& sheet : data.sheets) {
    for (const auto& entry : sheet.cells) {
      const Variant& value = entry.second.value;
      char place[64];
      std::snprintf(place, sizeof place, "!R%uC%u=", unsigned(entry.first.first + 1),
                    unsigned(entry.first.second + 1));
      text += narrowText(sheet.name) + place;
      if (value.type() == VarType::kR8) {
        char number[32];
        std::snprintf(number, sizeof number, "%.15g", value.real());
        text += number;
      } else if (value.type() == VarType::kBstr) {
        text += narrowText(value.text());
      }
      text += "\n";
    }
  }
  return text;
}

bool writeWorkbookFile(const WorkbookData& data, std::u16string_view, std::u16string_view target) {
  std::string text = workbookFileText(data);
  if (!host().disk.writeAll(std::u16string(target), text)) return false;
  host().savedWorkbook = std::move(text);
  host().workbookPath = std::u16string(target);
  return true;
}

// The service entry as the workbook's code calls it, with a path (or an empty text); its answer,
// or a negative number none of its answers is when the entry is missing or answers no number.
double callService(int code, const std::wstring& path) {
  auto service = exportOf<ServiceEntry>(host().library, "DummyFunc8");
  if (service == nullptr) return -100;
  NativeXloperStore store;
  NativeXloper* argument = store.keep(Xloper::string(narrowText(utf16(path))));
  Xloper answer = fromNativeXloper(service(code, argument));
  if (answer.is(kXltypeInt)) return answer.integer();
  if (answer.is(kXltypeNum)) return answer.num();
  return -101;
}

bool fileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The bytes of a resource of the module in US English; false when there is none.
bool resourceBytes(HMODULE module, std::u16string_view type, uint32_t id, std::string* bytes) {
  std::wstring typeName(type.begin(), type.end());
  HRSRC found =
      FindResourceExW(module, typeName.c_str(), MAKEINTRESOURCEW(id), kResourceLanguageEnglish);
  if (found == nullptr) return false;
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded == nullptr ? nullptr : LockResource(loaded);
  if (data == nullptr) return false;
  bytes->assign(static_cast<const char*>(data), SizeofResource(module, found));
  return true;
}

// The number a model cell holds (row and column 0-based); NaN when it holds none.
double modelNumber(const CompiledModel& model, uint32_t row, uint32_t column) {
  const Cell* cell = model.findCell(CellRef::at(0, row, column));
  if (cell == nullptr || cell->value == nullptr || !cell->value->isNumeric()) return std::nan("");
  return cell->value->number();
}

// The executable holds the workbook the program last wrote, behind the settings' rotated tag, and
// the chunks of a model that loads, with the user's entry in A1.
void checkSavedApplication(const std::wstring& path, double a1) {
  Host& h = host();
  HMODULE image = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  CHECK(image != nullptr);
  if (image == nullptr) return;
  std::string stored;
  std::string content;
  CHECK(resourceBytes(image, workbookResourceType(), kWorkbookResourceId, &stored));
  CHECK(decodeEnvelope(stored, &content) > 4);
  std::string record;
  if (decodeEnvelope(h.settingsRecord, &record) == 0) record = h.settingsRecord;
  uint32_t tag = std::rotr(workbookTag(record), int(kWorkbookTagRotation));
  std::string tagBytes;
  for (int i = 0; i < 4; ++i) tagBytes.push_back(char((tag >> (8 * i)) & 0xFF));
  CHECK(content.substr(0, 4) == tagBytes);
  CHECK(content.size() > 4 && content.substr(4) == h.savedWorkbook);

  // The model's chunks from 1200 up: the model as it runs now.
  ChunkStream in;
  size_t chunks = 0;
  for (uint32_t id = kFirstModelResourceId; resourceBytes(image, kModelResourceType, id, &stored);
       ++id) {
    in.appendChunk(stored);
    ++chunks;
  }
  FreeLibrary(image);
  CHECK_EQ(chunks, h.deliveredModel.size());
  CompiledModel saved;
  std::string error;
  CHECK(loadModel(in, saved, &error));
  if (!error.empty()) std::printf("model: %s\n", error.c_str());
  CHECK_EQ(modelNumber(saved, 0, 0), a1);
  CHECK_EQ(modelNumber(saved, 2, 0), a1 * 5);
  CHECK_EQ(modelNumber(saved, 1, 1), 14.0);
}

// Stops the watch; true when it had to close no dialog it did not expect.
bool endWatch(DialogCloser& closer) {
  closer.stop();
  if (!closer.strayTitle().empty()) std::printf("closed: %ls\n", closer.strayTitle().c_str());
  return closer.strayTitle().empty();
}

TEST_CASE("the program's main windows and its add-in callback") {
  Host& h = host();
  CHECK(h.windows.create());
  CHECK(procedureOf(h.windows.main()) == HostWindows::mainProcedure());
  // The library looks for the callback in the process's main module by its plain name.
  CHECK(exportOf<decltype(&MdCallBack)>(GetModuleHandleW(nullptr), "MdCallBack") == &MdCallBack);
}

TEST_CASE("the library loads under another name and subclasses the main window") {
  Host& h = host();
  wchar_t temporary[MAX_PATH] = {};
  CHECK(GetTempPathW(MAX_PATH, temporary) != 0);
  h.folder = std::wstring(temporary) + L"korvel-host-" + std::to_wstring(GetCurrentProcessId());
  CHECK(CreateDirectoryW(h.folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  h.folder += L"\\";
  h.libraryPath = h.folder + L"plinthstub.dll";
  CHECK(CopyFileW(h.librarySource.c_str(), h.libraryPath.c_str(), FALSE));
  h.library = LoadLibraryW(h.libraryPath.c_str());
  CHECK(h.library != nullptr);
  if (h.library == nullptr) return;

  for (int i = 0; i < int(std::size(kExports)); ++i) {
    FARPROC byName = GetProcAddress(h.library, kExports[i]);
    FARPROC byOrdinal = GetProcAddress(h.library, MAKEINTRESOURCEA(kFirstOrdinal + i));
    if (byName == nullptr || byName != byOrdinal) std::printf("export %s\n", kExports[i]);
    CHECK(byName != nullptr);
    CHECK(byName == byOrdinal);
  }
  h.channel = exportOf<ChannelEntrance>(h.library, "DummyFunc9");
  CHECK(procedureOf(h.windows.main()) != HostWindows::mainProcedure());
  CHECK(procedureOf(h.windows.edit()) != HostWindows::childProcedure());
  CHECK(procedureOf(h.windows.edit2()) != HostWindows::childProcedure());
}

TEST_CASE("the launcher delivers the settings, the texts and the model") {
  Host& h = host();
  h.realWindows = std::make_unique<Win32WindowSystem>();
  Launcher launcher(*h.realWindows);
  CHECK(launcher.findHostWindow() == WindowHandle(uint64_t(uintptr_t(h.windows.main()))));

  CompiledModel model;
  Workbook workbook;
  CHECK(compile(model, workbook));
  LaunchPackage package;
  SettingsRecord settings;
  settings.applicationName = u"Application";
  settings.header.optionFlags = kFlagDataExchange | kFlagSaveAsExecutable;
  std::string error;
  CHECK(writeSettings(settings, &package.settings, &error));
  h.settingsRecord = package.settings;
  package.agreementText = "You may use this application as you like.";
  package.applicationPath = utf16(h.folder + L"Application.exe");
  package.workbookPath = utf16(h.folder) + kWorkbookName;
  package.runtimeModulePath = utf16(h.libraryPath);
  package.keywordTexts = u"English;English\r\nTRUE;TRUE\r\n";
  CHECK(modelEnvelopes(model, h.files, &package.model, &error));
  CHECK(!package.model.empty());
  h.deliveredModel = package.model;

  h.windows.hostMessages().clear();
  LaunchResult result = launcher.deliver(package);
  CHECK(result.ok);
  if (!result.ok) std::printf("launcher: %s\n", result.error.c_str());
  bool launchModePassedOn = false;
  for (const SentCommand& sent : result.sent) {
    int64_t expected = sent.message == HC_SETTINGS ? 0 : 1;
    if (sent.message == HC_LAUNCH_MODE) expected = HostWindows::kHostAnswer;
    if (sent.answer != expected) {
      std::printf("message %u answered %lld\n", unsigned(sent.message), (long long)sent.answer);
    }
    CHECK_EQ(sent.answer, expected);
  }
  for (const HostMessage& message : h.windows.hostMessages()) {
    launchModePassedOn = launchModePassedOn || message.message == HC_LAUNCH_MODE;
  }
  CHECK(launchModePassedOn);
  CHECK(!result.sent.empty() && result.sent.back().message == HC_MODEL_PART);
  // The library released every payload block it was handed, back to the system.
  for (const SentCommand& sent : result.sent) {
    if (sent.message == HC_EXCEL_LANGUAGE || sent.message == HC_LAUNCH_MODE) continue;
    CHECK_EQ(h.realWindows->payloadSize(sent.wParam), 0u);
  }
  runMessages();
}

TEST_CASE("the workbook attaches the program's Application and the start computes the model") {
  Host& h = host();
  SpreadsheetOptions options;
  options.visible = false;
  options.writeWorkbook = &writeWorkbookFile;
  h.program = std::make_unique<SpreadsheetProgram>(h.programWindows, &hostAddinCallback(), options);
  h.program->exports().runProcedure = [](std::u16string_view name) { runProcedure(name); };
  h.workbookClass = std::make_unique<WorkbookClass>(*h.program);
  CHECK(h.workbookClass->registered());

  CompiledModel model;
  Workbook workbook;
  CHECK(compile(model, workbook));
  h.workbookPath = utf16(h.folder) + kWorkbookName;
  WorkbookData data = programWorkbook(workbook, model, h.workbookPath);
  WorkbookCode code;
  code.isApplication = true;
  // The workbook's code reaches the library only once it is open: the attach goes as the launcher
  // sends it, through the main window.
  CHECK(h.program->openWorkbook(std::move(data), code) != nullptr);
  h.program->exports().channel = &callChannel;

  auto mainWindow = int32_t(uintptr_t(h.windows.main()));
  h.application = std::make_shared<HwndApplication>(h.program->application(), mainWindow);
  h.applicationCom = comObjectFor(h.application);
  CHECK(h.applicationCom != nullptr);
  if (h.applicationCom == nullptr) return;
  VARIANT hwnd;
  VariantInit(&hwnd);
  CHECK(SUCCEEDED(getProperty(h.applicationCom, dispid::kHwnd, &hwnd)));
  CHECK(hwnd.vt == VT_I4 && hwnd.lVal == mainWindow);
  VariantClear(&hwnd);

  h.applicationTable = tableSlots(h.applicationCom);
  h.applicationTableAddress = *reinterpret_cast<void***>(h.applicationCom);
  CHECK(h.applicationTable.size() > 7);
  Launcher launcher(*h.realWindows);
  LaunchResult attached = launcher.attach(uint64_t(uintptr_t(h.applicationCom)), u"");
  CHECK(attached.ok);
  CHECK(attached.sent.size() == 1 && attached.sent[0].answer == 1);
  LaunchResult started = launcher.start();
  CHECK(started.ok);
  CHECK(started.sent.size() == 1 && started.sent[0].answer == 1);
  runMessages();
  h.program->runOnTimeProcedures();
  runMessages();

  // The program's copy holds the values the application starts with, as the compiler leaves them
  // in the workbook: the start writes only what differs.
  CHECK(shown(u"A3") == u"10");
  CHECK(shown(u"A4") == u"11");
  CHECK(shown(u"B2") == u"14");
  // The library made a workbook of its own through the program's class, and closed it again.
  CHECK_EQ(h.workbookClass->created(), 1);
  CHECK_EQ(h.program->openWorkbooks().size(), 1u);
  // The library put its own members into the table every Application object shares.
  CHECK(changedSlots(h.applicationTableAddress, h.applicationTable) > 0);
  // The runtime registered its entry points with the program.
  CHECK(!hostAddinCallback().registrations().empty());
}

TEST_CASE("an edit recalculates through the program, and undo takes it back") {
  Host& h = host();
  CHECK(h.program->typeIntoCell(kWorkbookName, kSheet, u"A1", u"3"));
  runMessages();
  CHECK(shown(u"A3") == u"15");
  CHECK(shown(u"A4") == u"16");
  CHECK(shown(u"B2") == u"14");

  h.procedures.clear();
  CHECK(h.program->undo());
  runMessages();
  CHECK(h.procedures == std::vector<std::string>{"DummyFunc4"});
  CHECK(shown(u"A1") == u"2");
  CHECK(shown(u"A3") == u"10");
}

TEST_CASE("the calculate key computes a manual workbook") {
  Host& h = host();
  CHECK(SUCCEEDED(setCalculation(h.applicationCom, kCalculationManual)));
  runMessages();
  CHECK(h.program->typeIntoCell(kWorkbookName, kSheet, u"A1", u"4"));
  runMessages();
  CHECK(shown(u"A3") == u"10");

  h.procedures.clear();
  h.program->pressCalculateKey();
  runMessages();
  CHECK(h.procedures == std::vector<std::string>{"DummyFunc1"});
  CHECK(shown(u"A3") == u"20");
  CHECK(shown(u"A4") == u"21");

  // Calculate from the workbook's code goes through the shared table to the library's cycle; the
  // program's own would compute only its own formulas, and the workbook holds none.
  CHECK(h.program->typeIntoCell(kWorkbookName, kSheet, u"A1", u"5"));
  runMessages();
  CHECK(shown(u"A3") == u"20");
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  CHECK(SUCCEEDED(h.applicationCom->Invoke(dispid::kCalculate, IID_NULL, LOCALE_SYSTEM_DEFAULT,
                                           DISPATCH_METHOD, &none, nullptr, nullptr, nullptr)));
  runMessages();
  CHECK(shown(u"A3") == u"25");
}

TEST_CASE("the workbook's code exports the user's data to a file and imports it back") {
  Host& h = host();
  CHECK(SUCCEEDED(setCalculation(h.applicationCom, kCalculationAutomatic)));
  runMessages();
  CHECK(shown(u"A1") == u"5");
  // A failure would be told in a message box, which nobody else would close.
  DialogCloser stray;
  stray.watch(std::vector<DialogAnswer>{});

  const std::wstring data = h.folder + L"Application.dat";
  const std::wstring collected = h.folder + L"Collected.dat";
  CHECK_EQ(callService(kServiceExport, data), 0.0);
  CHECK_EQ(callService(kServiceExportCollected, collected), 0.0);
  runMessages();
  CHECK(fileExists(data));
  CHECK(fileExists(collected));
  // The file holds the user's one entry: 5 in A1.
  DataFileHeader header;
  std::string section;
  std::vector<DataRecord> records;
  CHECK(readDataFile(h.disk, utf16(data), &header, &section) == DataFileCode::kOk);
  CHECK(readDataRecords(header, section, &records));
  CHECK(records.size() == 1 && records[0].sheet == 0 && records[0].row == 0 &&
        records[0].column == 0 && records[0].value.isNumeric() && records[0].value.number() == 5);

  // Without a path the user chooses the file, the ".dat" coming by itself, and is told it went.
  const std::wstring chosen = h.folder + L"Chosen.dat";
  DialogAnswer fileName;
  fileName.title = L"Export Changes In File";
  fileName.textControls = {0x480, 0x47c};
  fileName.text = h.folder + L"Chosen";
  fileName.buttonId = IDOK;
  DialogAnswer done;
  done.title = L"Export Data from Application Application";
  done.buttonId = IDOK;
  CHECK(endWatch(stray));
  DialogCloser user;
  user.watch({fileName, done});
  CHECK_EQ(callService(kServiceExport, L""), 0.0);
  runMessages();
  CHECK(endWatch(user));
  CHECK_EQ(user.answered(), 2u);
  CHECK(user.buttonFound());
  std::string chosenBytes;
  CHECK(h.disk.readAll(utf16(chosen), &chosenBytes));
  std::vector<DataRecord> chosenRecords;
  CHECK(parseDataFile(chosenBytes, &header, &section) == DataFileCode::kOk);
  CHECK(readDataRecords(header, section, &chosenRecords));
  CHECK(chosenRecords.size() == 1 && chosenRecords[0].value.isNumeric() &&
        chosenRecords[0].value.number() == 5);
  // Chosen by the user, the file bears the time of its export; the silent one does not.
  CHECK(header.timestamp != 0);
  stray.watch(std::vector<DialogAnswer>{});

  CHECK(h.program->typeIntoCell(kWorkbookName, kSheet, u"A1", u"9"));
  runMessages();
  CHECK(shown(u"A3") == u"45");
  // The application's own path names its data file: ".exe" reads as ".dat".
  CHECK_EQ(callService(kServiceImport, h.folder + L"Application.exe"), 0.0);
  runMessages();
  CHECK(shown(u"A1") == u"5");
  CHECK(shown(u"A3") == u"25");
  CHECK(shown(u"A4") == u"26");
  CHECK(shown(u"B2") == u"14");

  // Without a path the user names the file in the import dialog, and is told it went in.
  CHECK(h.program->typeIntoCell(kWorkbookName, kSheet, u"A1", u"8"));
  runMessages();
  CHECK(shown(u"A3") == u"40");
  DialogAnswer importFrom;
  importFrom.title = L"Import Data for Application Application";
  importFrom.textControls = {kImportPathControl};
  importFrom.text = chosen;
  importFrom.buttonLabel = L"Import";
  DialogAnswer imported = done;
  imported.title = importFrom.title;
  CHECK(endWatch(stray));
  user.watch({importFrom, imported});
  CHECK_EQ(callService(kServiceImport, L""), 0.0);
  runMessages();
  CHECK(endWatch(user));
  CHECK_EQ(user.answered(), 2u);
  CHECK(user.buttonFound());
  CHECK(shown(u"A1") == u"5");
  CHECK(shown(u"A3") == u"25");
  DeleteFileW(data.c_str());
  DeleteFileW(collected.c_str());
  DeleteFileW(chosen.c_str());
}

TEST_CASE("the user's save writes the workbook and the model into the application's executable") {
  Host& h = host();
  // The launcher named this program's own folder's application: a real executable, this one.
  h.applicationPath = h.folder + L"Application.exe";
  CHECK(CopyFileW(moduleFile().c_str(), h.applicationPath.c_str(), FALSE));
  CHECK(h.program->typeIntoCell(kWorkbookName, kSheet, u"A1", u"6"));
  runMessages();
  CHECK(shown(u"A3") == u"30");

  DialogCloser stray;
  stray.watch(std::vector<DialogAnswer>{});
  h.savedWorkbook.clear();
  h.program->saveWorkbook(kWorkbookName);
  runMessages();
  CHECK(endWatch(stray));
  // The program wrote the workbook with the user's entry, for the library to take.
  CHECK(h.savedWorkbook.find("Sheet1!R1C1=6\n") != std::string::npos);

  checkSavedApplication(h.applicationPath, 6);
}

TEST_CASE("the workbook's code saves the application as another executable chosen by the user") {
  Host& h = host();
  CHECK(h.program->typeIntoCell(kWorkbookName, kSheet, u"A1", u"7"));
  runMessages();
  const std::wstring copy = h.folder + L"Copy.exe";
  const std::u16string previousWorkbook = h.workbookPath;
  DialogAnswer answer;
  answer.title = L"Save As";
  // The file name box of the system's dialog: an edit, or a combo box with one.
  answer.textControls = {0x480, 0x47c};
  answer.text = h.folder + L"Copy";
  answer.buttonId = IDOK;
  DialogCloser closer;
  closer.watch(answer);
  h.savedWorkbook.clear();
  CHECK_EQ(callService(kServiceSaveExecutable, L""), 0.0);
  runMessages();
  CHECK(endWatch(closer));
  CHECK(closer.seen());
  CHECK(closer.buttonFound());
  CHECK(fileExists(copy));
  if (!fileExists(copy)) return;
  // The copy is the application from now on, with the workbook under a name of its own.
  CHECK(h.workbookPath != previousWorkbook);
  CHECK(!fileExists(std::wstring(previousWorkbook.begin(), previousWorkbook.end())));
  checkSavedApplication(copy, 7);
  // The executable saved before stays as it was.
  CHECK(DeleteFileW(h.applicationPath.c_str()));
  h.applicationPath = copy;
}

TEST_CASE("the about and agreement dialogs show and close") {
  struct Case {
    int code;
    const wchar_t* title;
  };
  for (const Case& c : {Case{kServicePostAbout, L"About Application"},
                        Case{kServicePostAgreement, L"Application - End User License Agreement"}}) {
    DialogAnswer answer;
    answer.title = c.title;
    answer.buttonLabel = L"Close";
    DialogCloser closer;
    closer.watch(answer);
    // Posted: the dialog comes up from the program's message loop, not inside the call.
    CHECK_EQ(callService(c.code, L""), 0.0);
    CHECK(!closer.seen());
    runMessages();
    CHECK(endWatch(closer));
    if (!closer.seen()) std::printf("not seen: %ls\n", c.title);
    CHECK(closer.seen());
    CHECK(closer.buttonFound());
    CHECK(!IsWindow(closer.dialog()));
  }
}

TEST_CASE("unloading the library gives the windows their procedures back") {
  Host& h = host();
  if (h.applicationCom != nullptr) h.applicationCom->Release();
  h.applicationCom = nullptr;
  h.channel = nullptr;
  CHECK(FreeLibrary(h.library));
  h.library = nullptr;
  CHECK(procedureOf(h.windows.main()) == HostWindows::mainProcedure());
  CHECK(procedureOf(h.windows.edit()) == HostWindows::childProcedure());
  CHECK(procedureOf(h.windows.edit2()) == HostWindows::childProcedure());
  // The shared table holds the program's members again, and the library let the program go.
  CHECK_EQ(changedSlots(h.applicationTableAddress, h.applicationTable), 0);
  CHECK(h.program->hasQuit());
  // The messages the program's window gets now are its own again.
  h.windows.hostMessages().clear();
  CHECK_EQ(SendMessageW(h.windows.main(), HC_QUERY_ATTACHED, 0, 0), HostWindows::kHostAnswer);

  // Once the library is gone its launcher, the application's executable, is asked to remove the
  // files the run left: the workbook and the library's copy.
  if (!h.applicationPath.empty()) {
    std::u16string request;
    const std::u16string requestPath = utf16(h.folder + kCleanupRequest);
    // Readable once the launcher has written it whole: it writes without sharing.
    std::string bytes;
    bool read = false;
    for (int wait = 0; wait < 200 && !(read = h.disk.readAll(requestPath, &bytes)); ++wait) {
      Sleep(50);
    }
    CHECK(read);
    request = widenText(bytes);
    for (const std::u16string& part : {std::u16string(u"-clnx"), h.workbookPath,
                                       std::u16string(u"-clnd"), utf16(h.libraryPath)}) {
      if (request.find(part) == std::u16string::npos)
        std::printf("no %s\n", narrowText(part).c_str());
      CHECK(request.find(part) != std::u16string::npos);
    }
    // The launcher's process may not have ended yet.
    for (int wait = 0; wait < 200 && !DeleteFileW(h.applicationPath.c_str()); ++wait) Sleep(50);
    DeleteFileW((h.folder + kCleanupRequest).c_str());
  }
  DeleteFileW(h.libraryPath.c_str());
  DeleteFileW(std::wstring(h.workbookPath.begin(), h.workbookPath.end()).c_str());
  // The library made the application's folder the current one, as the launcher's is.
  SetCurrentDirectoryW(moduleFolder().c_str());
  bool removed = RemoveDirectoryW(h.folder.c_str());
  if (!removed) std::printf("folder stays: error %lu\n", GetLastError());
  CHECK(removed);
}

}  // namespace
}  // namespace korvel::win32

int main(int argc, char** argv) {
  using namespace korvel::win32;
  if (argc > 1 && std::string_view(argv[1]) == "-clnx") {
    std::wstring line = GetCommandLineW();
    std::string bytes;
    for (wchar_t unit : line) bytes.push_back(char(unit & 0xFF));
    Win32Files files;
    ExitProcess(files.writeAll(utf16(moduleFolder() + kCleanupRequest), bytes) ? 0 : 1);
  }
  CoInitialize(nullptr);
  Host& h = host();
  if (argc > 1) {
    // The path as the system's code page spells it.
    int length = MultiByteToWideChar(CP_ACP, 0, argv[1], -1, nullptr, 0);
    if (length > 1) {
      h.librarySource.resize(size_t(length));
      MultiByteToWideChar(CP_ACP, 0, argv[1], -1, h.librarySource.data(), length);
      h.librarySource.resize(size_t(length - 1));
    }
  } else {
    h.librarySource = moduleFolder() + L"DeduduzUra.dll";
  }
  int failed = 0;
  for (const testing::TestCase& test : testing::registry()) {
    int before = testing::failures();
    std::printf("[ RUN  ] %s\n", test.name);
    std::fflush(stdout);
    test.body();
    bool ok = testing::failures() == before;
    std::printf("[ %s ] %s\n", ok ? " OK " : "FAIL", test.name);
    std::fflush(stdout);
    if (!ok) {
      // Later scenarios build on this one.
      failed = 1;
      break;
    }
  }
  std::printf(failed ? "stopped at the first failing scenario\n" : "every scenario passed\n");
  std::fflush(stdout);
  // The in-memory program may hold objects of the library, whose code is gone once it is
  // unloaded: the process ends without destroying them.
  ExitProcess(UINT(failed));
}
