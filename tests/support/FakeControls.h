// Recording stand-ins for the wizard's controls: the in-memory controls of
// unattended mode, each of which, when given a log, also writes one line per
// change ("NesteKnapp.Caption=&Next") so a test can check the order of
// changes across several controls.
#pragma once
#include <string>
#include <vector>

#include "controls/MemoryControls.h"

namespace oup::test {

using oup::TFixedMeasure;
using TControlLog = std::vector<std::string>;

// Adds the record to an in-memory control.
template <class TBase>
class TRecording : public TBase {
public:
    explicit TRecording(std::string name = {}, TControlLog* log = nullptr)
        : Name(std::move(name)), Log(log) {}

    void SetVisible(bool visible) override {
        TBase::SetVisible(visible);
        Record("Visible", visible ? "1" : "0");
    }
    void SetEnabled(bool enabled) override {
        TBase::SetEnabled(enabled);
        Record("Enabled", enabled ? "1" : "0");
    }
    void SetCaption(const std::string& caption) override {
        TBase::SetCaption(caption);
        ++CaptionChanges;
        Record("Caption", caption);
    }
    void SetLeft(int left) override {
        TBase::SetLeft(left);
        Record("Left", std::to_string(left));
    }
    void Repaint() override { ++Repaints; }

    std::string Name;
    TControlLog* Log;
    int Repaints = 0;
    int CaptionChanges = 0;  // calls of SetCaption, whatever the value

protected:
    void Record(const std::string& what, const std::string& value) {
        if (Log) Log->push_back(Name + "." + what + "=" + value);
    }
};

using TFakeControl = TRecording<TMemoryControl>;

class TFakeListView : public TRecording<TMemoryListView> {
public:
    using TRecording::TRecording;
    void Clear() override {
        TMemoryListView::Clear();
        Record("Items", "cleared");
    }
    void AddItem(const std::string& caption, bool checked) override {
        TMemoryListView::AddItem(caption, checked);
        Record("Items", "+" + caption);
    }
    void SetColumnTitle(const std::string& title) override {
        TMemoryListView::SetColumnTitle(title);
        Record("Column", title);
    }
};

class TFakeMemo : public TRecording<TMemoryMemo> {
public:
    using TRecording::TRecording;
    void AppendLine(const std::string& line) override {
        TMemoryMemo::AppendLine(line);
        Record("Lines", "+" + line);
    }
};

class TFakeAnimate : public TRecording<TMemoryAnimate> {
public:
    using TRecording::TRecording;
    void Play() override {
        TMemoryAnimate::Play();
        Record("Playing", "1");
    }
    void Stop() override {
        TMemoryAnimate::Stop();
        Record("Playing", "0");
    }
};

class TFakeFileLabel : public TRecording<TMemoryFileLabel> {
public:
    explicit TFakeFileLabel(std::string name, TControlLog* log = nullptr)
        : TRecording(std::move(name), log) {
        Label().SetBounds(0, 0, 333, 17);
    }
};

class TFakeProgress : public TRecording<TMemoryProgress> {
public:
    using TRecording::TRecording;
    void SetProgress(int done, int total) override {
        TMemoryProgress::SetProgress(done, total);
        Record("Progress", std::to_string(done) + "/" + std::to_string(total));
    }
};

}  // namespace oup::test
