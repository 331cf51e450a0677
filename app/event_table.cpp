#include "app/event_table.h"

#include "app/program.h"

namespace quillon::app {

using platform::Control;
using platform::Event;

const std::vector<EventBinding>& EventTable() {
  static const std::vector<EventBinding> table = {
      {Control::主窗口, Event::Created, "RunStartup",
       [](Program& p, const std::string&) { p.RunStartup(); return true; }},
      {Control::主窗口, Event::CloseQuery, "ConfirmExit",
       [](Program& p, const std::string&) { return p.ConfirmExit(); }},
      {Control::按钮1, Event::Clicked, "AddEntry",
       [](Program& p, const std::string&) { p.StartAddWorker(); return true; }},
      {Control::按钮2, Event::Clicked, "ShowGlobalPanel",
       [](Program& p, const std::string&) { p.ShowGlobalPanel(); return true; }},
      {Control::按钮3, Event::Clicked, "ApplyGlobalLine",
       [](Program& p, const std::string&) { p.ApplyGlobalLine(); return true; }},
      {Control::按钮4, Event::Clicked, "HideGlobalPanel",
       [](Program& p, const std::string&) { p.HideGlobalPanel(); return true; }},
      {Control::按钮5, Event::Clicked, "OpenDownloadsPage",
       [](Program& p, const std::string&) { p.OpenDownloadsPage(); return true; }},
      {Control::按钮6, Event::Clicked, "OpenTutorialPage",
       [](Program& p, const std::string&) { p.OpenTutorialPage(); return true; }},
      {Control::按钮7, Event::Clicked, "ShowImportPanel",
       [](Program& p, const std::string&) { p.ShowImportPanel(); return true; }},
      {Control::按钮8, Event::Clicked, "ConfirmImport",
       [](Program& p, const std::string&) { p.ConfirmImport(); return true; }},
      {Control::按钮9, Event::Clicked, "HideImportPanel",
       [](Program& p, const std::string&) { p.HideImportPanel(); return true; }},
      {Control::组合框2, Event::ItemChosen, "ShowLineDetails",
       [](Program& p, const std::string&) { p.ShowLineDetails(); return true; }},
      {Control::组合框3, Event::LeftButtonDown, "ChooseImportFile",
       [](Program& p, const std::string&) { p.ChooseImportFile(); return true; }},
      {Control::超级列表框1, Event::LeftClick, "CopyRowToInputs",
       [](Program& p, const std::string&) { p.CopyRowToInputs(); return true; }},
      {Control::超级列表框1, Event::RightClick, "ShowRowMenu",
       [](Program& p, const std::string&) { p.ShowRowMenu(); return true; }},
      {Control::开启分流, Event::Chosen, "EnableEntry",
       [](Program& p, const std::string&) { p.EnableEntry(); return true; }},
      {Control::关闭分流, Event::Chosen, "DisableEntry",
       [](Program& p, const std::string&) { p.DisableEntry(); return true; }},
      {Control::删除记录, Event::Chosen, "DeleteEntry",
       [](Program& p, const std::string&) { p.DeleteEntry(); return true; }},
      {Control::拖放对象1, Event::FilesDropped, "TakeDroppedFile",
       [](Program& p, const std::string& paths) { p.TakeDroppedFile(paths); return true; }},
  };
  return table;
}

}  // namespace quillon::app
