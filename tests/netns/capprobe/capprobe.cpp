// A Qt generic plugin for the rights tests: whatever program loads it (the
// window, through QT_PLUGIN_PATH and QT_QPA_GENERIC_PLUGINS=capprobe)
// writes the CapEff line of its /proc/self/status to the file named by
// QUILLON_CAPPROBE_OUT: the capabilities that code planted through Qt's
// environment would hold there.
#include <QtGui/QGenericPlugin>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

class CapProbe : public QGenericPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "capprobe.json")

 public:
  QObject* create(const QString&, const QString&) override {
    const char* out = std::getenv("QUILLON_CAPPROBE_OUT");
    if (out == nullptr) return nullptr;
    std::ifstream status("/proc/self/status");
    std::string line, capEff = "unknown\n";
    while (std::getline(status, line)) {
      if (line.rfind("CapEff:", 0) == 0) capEff = line.substr(line.find_first_not_of(" \t", 7)) + "\n";
    }
    // Whole or not at all, for the test that waits for it.
    const std::string partial = std::string(out) + ".partial";
    std::ofstream(partial) << capEff;
    std::rename(partial.c_str(), out);
    return new QObject(this);
  }
};

#include "capprobe.moc"
