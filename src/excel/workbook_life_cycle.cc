// The start sequence of HC_START and the close handling of the program's workbooks.
#include "excel/workbook_life_cycle.h"

#include <cmath>
#include <cstdint>
#include <string>

#include "engine/engine.h"
#include "engine/recalculation.h"
#include "excel/application_events.h"
#include "excel/dde_client.h"
#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "excel/object_layer.h"
#include "excel/protection.h"
#include "runtime/runtime.h"
#include "runtime/text_table.h"
#include "util/text.h"

namespace korvel {

namespace {

// The first major version that shows the program as soon as the application is computed.
constexpr int32_t kFirstVisibleAtStartVersion = 15;

// A numeric setting of the program as a number; nullopt for anything else. The program declares
// some of these as integers and some as doubles, so either form counts.
std::optional<double> numericSetting(const Variant& value) {
  if (value.isInteger()) return double(value.integer());
  if (value.type() == VarType::kR8) return value.real();
  return std::nullopt;
}

// Switches the program's events and screen back on when the start sequence leaves early.
class HeldProgram {
 public:
  explicit HeldProgram(ExcelObject& application) : application_(application) {}
  ~HeldProgram() {
    if (!held_) return;
    try {
      application_.put(dispid::kEnableEvents, Variant::boolean(true));
    } catch (...) {
    }
    try {
      application_.put(dispid::kScreenUpdating, Variant::boolean(true));
    } catch (...) {
    }
  }
  void release() { held_ = false; }

 private:
  ExcelObject& application_;
  bool held_ = true;
};

bool isApplicationWorkbook(ExcelConnection& connection, ExcelObject& workbook) {
  ExcelObject& own = connection.workbook();
  if (!own.live() || !workbook.live()) return false;
  if (own.sameObject(workbook)) return true;
  // The program may hand out another holder of the same workbook; workbook names are unique among
  // the open ones.
  return equalsNoCase(workbook.getText(dispid::kName), own.getText(dispid::kName));
}

}  // namespace

void startApplication(ExcelConnection& connection) {
  Runtime& runtime = connection.runtime();
  Engine* engine = runtime.engine();
  ExcelObject& application = connection.application();
  if (engine == nullptr || !application.live()) return;

  engine->recalculation().startPass(engine->model());
  // The engine knows the running workbook by the name the program shows for it.
  engine->workbookName = std::u16string(fileNameOf(runtime.channelState().workbookPath));

  application.put(dispid::kEnableEvents, Variant::boolean(false));
  application.put(dispid::kScreenUpdating, Variant::boolean(false));
  HeldProgram held(application);
  connection.protection().liftProtection();

  Variant iteration = application.get(dispid::kIteration);
  engine->iteration = iteration.type() == VarType::kBool && iteration.boolean();
  engine->maxChange = numericSetting(application.get(dispid::kMaxChange)).value_or(0);
  std::optional<double> maxIterations = numericSetting(application.get(dispid::kMaxIterations));
  engine->maxIterations = maxIterations && std::isfinite(*maxIterations) &&
                                  std::fabs(*maxIterations) < double(INT32_MAX)
                              ? int(std::trunc(*maxIterations))
                              : 0;

  try {
    engine->recalculation().fullRecalculation();
  } catch (const std::exception& failure) {
    // The application still opens: the cells the pass could not compute show it.
    connection.events().reportFailedRecalculation(failure);
  }

  connection.protection().protectWorkbook();
  connection.protection().protectSheets();
  held.release();
  application.put(dispid::kEnableEvents, Variant::boolean(true));
  application.put(dispid::kScreenUpdating, Variant::boolean(true));

  const ChannelState& state = runtime.channelState();
  if (!state.startupDataPath.empty() && runtime.settings().dataExchange) {
    runtime.dataExchange().importStartupData();
  }

  bool visible = application.getBool(dispid::kVisible);
  if (visible || state.launchMode != 0) return;
  bool macroPending = !state.firstStartMacro.empty() || !state.secondStartMacro.empty();
  bool show = runtime.settings().showAtStart
                  ? !macroPending
                  : runtime.hostInformation().excelVersion >= kFirstVisibleAtStartVersion;
  if (show) application.put(dispid::kVisible, Variant::boolean(true));
}

void onWorkbookBeforeClose(ExcelConnection& connection, ExcelObject workbook, Variant& cancel) {
  Runtime& runtime = connection.runtime();
  if (runtime.engine() == nullptr) return;
  connection.setEnableEvents(false);
  try {
    if (!variantToBool(cancel)) {
      if (!isApplicationWorkbook(connection, workbook)) {
        // Another workbook: the application keeps running; the program closes it as usual. When
        // formulas read it, its link is open no more (a name no link has changes nothing).
        cancel = Variant::boolean(false);
        if (ExcelCalcHost* host = connection.calcHost()) {
          try {
            host->linkedWorkbookClosed(workbook.getText(dispid::kName));
          } catch (const ComError&) {
          }
        }
      } else {
        ExcelObject& application = connection.application();
        const Settings& settings = runtime.settings();
        bool closing = true;
        if (!settings.saveAsExecutable) {
          application.put(dispid::kDisplayAlerts, Variant::boolean(false));
          if (settings.dataExchange && !workbook.getBool(dispid::kSaved) &&
              !runtime.dataExchange().lastExportSucceeded()) {
            std::u16string caption =
                tableText(TextEntry::kCloseCaptionPrefix) + u" " + settings.applicationName;
            int answer = runtime.platform().windows->messageBox(
                runtime.mainWindow(), tableText(TextEntry::kCloseQuestion), caption,
                kMbYesNoCancel | kMbIconWarning);
            if (answer == kIdYes) {
              // The user wanted the data kept: without a written file the workbook stays open.
              closing = runtime.dataExchange().exportData(false, u"") &&
                        runtime.dataExchange().lastExportSucceeded();
            } else if (answer != kIdNo) {
              closing = false;
            }
          }
        } else {
          // The program's own save question leads to saving the application.
          application.put(dispid::kDisplayAlerts, Variant::boolean(true));
        }
        cancel = Variant::boolean(!closing);
        if (closing) {
          connection.ddeClient().uninitialize();
          if (!application.getBool(dispid::kVisible)) {
            runtime.platform().windows->post(runtime.mainWindow(), kWmClose, 0, 0);
          }
        }
      }
    }
  } catch (...) {
    // The program's events are needed again whatever failed: without them the runtime no longer
    // hears of the user's changes.
    connection.setEnableEvents(true);
    throw;
  }
  connection.setEnableEvents(true);
}

}  // namespace korvel
