#include "app/event_table.h"

#include "app/controls.h"
#include "app/presenter.h"

namespace quillon::app {

using platform::Event;

namespace {

// A routine that takes nothing and says nothing, bound as the table needs it.
template <void (Presenter::*routine)()>
bool Run(Presenter& p, const std::string&) {
  (p.*routine)();
  return true;
}

}  // namespace

const std::vector<EventBinding>& EventTable() {
  static const std::vector<EventBinding> table = {
      {Control::主窗口, Event::Created, "RunStartup", Run<&Presenter::RunStartup>},
      {Control::主窗口, Event::CloseQuery, "ConfirmExit", [](Presenter& p, const std::string&) { return p.ConfirmExit(); }},
      {Control::按钮1, Event::Clicked, "AddEntry", Run<&Presenter::StartAddWorker>},
      {Control::按钮2, Event::Clicked, "ShowGlobalPanel", Run<&Presenter::ShowGlobalPanel>},
      {Control::按钮3, Event::Clicked, "ApplyGlobalLine", Run<&Presenter::ApplyGlobalLine>},
      {Control::按钮4, Event::Clicked, "HideGlobalPanel", Run<&Presenter::HideGlobalPanel>},
      {Control::按钮5, Event::Clicked, "OpenDownloadsPage", Run<&Presenter::OpenDownloadsPage>},
      {Control::按钮6, Event::Clicked, "OpenTutorialPage", Run<&Presenter::OpenTutorialPage>},
      {Control::按钮7, Event::Clicked, "ShowImportPanel", Run<&Presenter::ShowImportPanel>},
      {Control::按钮8, Event::Clicked, "ConfirmImport", Run<&Presenter::ConfirmImport>},
      {Control::按钮9, Event::Clicked, "HideImportPanel", Run<&Presenter::HideImportPanel>},
      {Control::组合框2, Event::ItemChosen, "ShowLineDetails", Run<&Presenter::ShowLineDetails>},
      {Control::组合框3, Event::LeftButtonDown, "ChooseImportFile", Run<&Presenter::ChooseImportFile>},
      {Control::超级列表框1, Event::LeftClick, "CopyRowToInputs", Run<&Presenter::CopyRowToInputs>},
      {Control::超级列表框1, Event::RightClick, "ShowRowMenu", Run<&Presenter::ShowRowMenu>},
      {Control::开启分流, Event::Chosen, "EnableEntry", Run<&Presenter::EnableEntry>},
      {Control::关闭分流, Event::Chosen, "DisableEntry", Run<&Presenter::DisableEntry>},
      {Control::删除记录, Event::Chosen, "DeleteEntry", Run<&Presenter::DeleteEntry>},
      {Control::拖放对象1, Event::FilesDropped, "TakeDroppedFile",
       [](Presenter& p, const std::string& paths) { p.TakeDroppedFile(paths); return true; }},
  };
  return table;
}

}  // namespace quillon::app
