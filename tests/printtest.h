// The fixture of the printer tests: the private spooler with a known set of
// queues, a CUPS printer layer over it, and a renderer with a preview page.
#pragma once

#include "engine/globals.h"
#include "engine/printer.h"
#include "engine/renderer.h"
#include "platform/cupsprinter.h"
#include "surfaces/fontlist.h"
#include "surfaces/imagecanvas.h"
#include "tests/cupsserver.h"
#include "tests/testutil.h"

#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>

namespace quillard::test {

// The queues every printer test starts with.
//   FILEPDF (the default): the Generic PDF driver as installed: Letter by
//     default, 600 dpi, unprintable margins of 18 points left and right and
//     36 points top and bottom, landscape a quarter turn to the left.
//   TRAYS: the same driver made into an A4 printer at 300 dpi with margins of
//     12 points (24 at the bottom), landscape a quarter turn to the right,
//     and paper sources Upper, Lower, Manual, Envelope and Tray3.
//   RAW: a queue without a driver.
class PrintTest : public ::testing::Test {
protected:
    TCupsServer* Cups = nullptr;
    QTemporaryDir Dir;
    TRecordingServices Services;
    std::unique_ptr<TCupsPrinterLayer> Layer;
    std::unique_ptr<tRenderer> R;

    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        ASSERT_FALSE(GenericPdfPpd().empty())
            << "the Generic PDF driver of cups-filters is missing: install cups-filters (scripts/setup.sh does)";
        Cups = &SharedCups();
        ASSERT_TRUE(Cups->Running()) << "the printer tests need a private cupsd: " << Cups->Error();
        Cups->Reset();
        ASSERT_TRUE(Cups->AddQueue("FILEPDF", GenericPdfPpd()));
        ASSERT_TRUE(Cups->AddQueue("TRAYS", TraysPpd()));
        ASSERT_TRUE(Cups->AddQueue("RAW", ""));
        ASSERT_TRUE(Cups->SetDefault("FILEPDF"));
        InstallFontSubstitutions();
        Globals().PrinterWarningShown = true;  // the warning is tested on its own
        SetUserServices(&Services);
    }

    void TearDown() override
    {
        R.reset();
        SetPrinterLayer(nullptr);
        Layer.reset();
        SetUserServices(nullptr);
    }

    std::string TraysPpd()
    {
        return WritePpd(Dir.filePath("trays.ppd").toStdString(),
                        {{"*DefaultPageSize:", "*DefaultPageSize: A4"},
                         {"*DefaultPageRegion:", "*DefaultPageRegion: A4"},
                         {"*DefaultImageableArea:", "*DefaultImageableArea: A4"},
                         {"*DefaultPaperDimension:", "*DefaultPaperDimension: A4"},
                         {"*ImageableArea A4/A4:", "*ImageableArea A4/A4: \"12 24 583 830\""},
                         {"*DefaultResolution:", "*DefaultResolution: 300dpi"},
                         {"*LandscapeOrientation:", "*LandscapeOrientation: Minus90"},
                         {"*OpenUI *InputSlot", "*OpenUI *InputSlot/Media Source: PickOne\n"
                                                "*OrderDependency: 10 AnySetup *InputSlot\n"
                                                "*DefaultInputSlot: Upper\n"
                                                "*InputSlot Upper/Upper Tray: \"\"\n"
                                                "*InputSlot Lower/Lower Tray: \"\"\n"
                                                "*InputSlot Manual/Manual Feed: \"\"\n"
                                                "*InputSlot Envelope/Envelope Feeder: \"\"\n"
                                                "*InputSlot Tray3/Tray 3: \"\"\n"
                                                "*CloseUI: *InputSlot"}});
    }

    // A fresh layer over the spooler (it reads the queues on first use) and a
    // renderer on it, drawing its preview at 96 dpi.
    void UseLayer(const std::string& Queue = "")
    {
        R.reset();
        Layer = std::make_unique<TCupsPrinterLayer>();
        SetPrinterLayer(Layer.get());
        if (!Queue.empty()) {
            const int i = Layer->IndexOf(Queue);
            ASSERT_GE(i, 0) << Queue;
            Layer->SetPrinterIndex(i);
        }
        R = std::make_unique<tRenderer>();
        R->MeasureOnScreen(96, 1.0);
    }

    std::string Write(const std::string& Bytes, const std::string& Name = "REPORT.TXT")
    {
        std::string path = Dir.filePath(QString::fromStdString(Name)).toStdString();
        std::ofstream(path, std::ios::binary) << Bytes;
        return path;
    }

    // Opens a report as the preview does: the header scan, then the metrics.
    std::string Open(const std::string& Bytes, const std::string& Name = "REPORT.TXT")
    {
        const std::string path = Write(Bytes, Name);
        EXPECT_TRUE(R->OpenFile(path, nullptr));
        R->GetCapacities();
        return path;
    }

    // The jobs the layer handed over, as spooler job ids.
    std::vector<int> SubmittedIds() const
    {
        std::vector<int> ids;
        for (const std::string& j : Layer->SubmittedJobs())
            ids.push_back(std::stoi(j.substr(j.rfind('-') + 1)));
        return ids;
    }

    static std::string One(const std::map<std::string, std::vector<std::string>>& Attrs, const std::string& Name)
    {
        auto it = Attrs.find(Name);
        return it == Attrs.end() || it->second.empty() ? std::string("(none)") : it->second[0];
    }

    std::string MessagesText() const
    {
        std::string s;
        for (const auto& m : Services.Messages)
            s += m.Caption + ": " + m.Text + "\n";
        return s;
    }
};

}  // namespace quillard::test
