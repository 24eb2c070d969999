// Building a page definition of 2,000 widgets and 500 actions over 50 pages
// (read, parse, lay out, resolve and initialise, then discard) next to
// QUiLoader building the same widgets, layouts and 500 signal connections from
// a Qt Designer document. Both start from bytes in memory.
#include "BenchRoot.h"

#include "bench/support/FigureReporter.h"

#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/XmlDefinitionReader.h"

#include <QApplication>
#include <QBuffer>
#include <QLoggingCategory>
#include <QUiLoader>
#include <QWidget>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <tinyxml.h>

namespace
{
const int Pages = 50;
const int PerKind = 10; // check boxes, line edits and labels per page; half as many spin
                        // boxes and combo boxes: 40 widgets a page
const int ActionsPerPage = 10;

QByteArray pageDefinition()
{
    QString xml = QStringLiteral("<root version=\"1.8\" layout=\"vertical\"><pageholder>");
    for (int p = 0; p < Pages; ++p)
    {
        xml +=
            QStringLiteral("<page name=\"page%1\" title=\"Page %1\" layout=\"vertical\">").arg(p);
        for (int i = 0; i < PerKind; ++i)
        {
            const QString id = QStringLiteral("p%1_%2").arg(p).arg(i);
            xml += QStringLiteral("<checkbox name=\"c%1\" property=\"C%1\" title=\"Check %1\">")
                       .arg(id);
            if (i < ActionsPerPage)
                xml +=
                    QStringLiteral("<action signal=\"checked\" slot=\"disable\" widget=\"e%1\"/>")
                        .arg(id);
            xml += QStringLiteral("</checkbox>");
            xml += QStringLiteral("<lineedit name=\"e%1\" property=\"E%1\" default=\"text\"/>")
                       .arg(id);
            xml += QStringLiteral("<label name=\"l%1\" title=\"Label %1\"/>").arg(id);
            if (i % 2 == 0)
            {
                xml +=
                    QStringLiteral("<spinbox name=\"s%1\" minimum=\"0\" maximum=\"100\"/>").arg(id);
                xml += QStringLiteral("<combobox name=\"b%1\"><entry title=\"A\" value=\"a\"/>"
                                      "<entry title=\"B\" value=\"b\"/></combobox>")
                           .arg(id);
            }
        }
        xml += QStringLiteral("</page>");
    }
    xml += QStringLiteral("</pageholder></root>");
    return xml.toUtf8();
}

QString uiWidget(const char* cls, const QString& name, const QString& properties)
{
    return QStringLiteral("<item><widget class=\"%1\" name=\"%2\">%3</widget></item>")
        .arg(QLatin1String(cls), name, properties);
}

QString uiText(const QString& text)
{
    return QStringLiteral("<property name=\"text\"><string>%1</string></property>").arg(text);
}

QByteArray designerDocument()
{
    QString ui = QStringLiteral("<ui version=\"4.0\"><class>Form</class>"
                                "<widget class=\"QWidget\" name=\"Form\">"
                                "<layout class=\"QVBoxLayout\" name=\"rootLayout\"><item>"
                                "<widget class=\"QStackedWidget\" name=\"pages\">");
    QString connections;
    for (int p = 0; p < Pages; ++p)
    {
        ui += QStringLiteral("<widget class=\"QScrollArea\" name=\"page%1\">"
                             "<property name=\"widgetResizable\"><bool>true</bool></property>"
                             "<widget class=\"QWidget\" name=\"content%1\">"
                             "<layout class=\"QVBoxLayout\" name=\"layout%1\">")
                  .arg(p);
        ui += uiWidget("QLabel", QStringLiteral("title%1").arg(p),
                       uiText(QStringLiteral("Page %1").arg(p)));
        for (int i = 0; i < PerKind; ++i)
        {
            const QString id = QStringLiteral("p%1_%2").arg(p).arg(i);
            ui += uiWidget("QCheckBox", "c" + id, uiText("Check " + id));
            ui += uiWidget("QLineEdit", "e" + id, uiText("text"));
            ui += uiWidget("QLabel", "l" + id, uiText("Label " + id));
            if (i % 2 == 0)
            {
                ui += uiWidget("QSpinBox", "s" + id,
                               "<property name=\"minimum\"><number>0</number></property>"
                               "<property name=\"maximum\"><number>100</number></property>");
                ui += uiWidget("QComboBox", "b" + id,
                               "<item>" + uiText("A") + "</item><item>" + uiText("B") + "</item>");
            }
            if (i < ActionsPerPage)
                connections += QStringLiteral("<connection><sender>c%1</sender>"
                                              "<signal>toggled(bool)</signal><receiver>e%1"
                                              "</receiver><slot>setDisabled(bool)</slot>"
                                              "</connection>")
                                   .arg(id);
        }
        ui += QStringLiteral("</layout></widget></widget>");
    }
    ui += QStringLiteral("</widget></item></layout></widget><connections>") + connections +
          QStringLiteral("</connections></ui>");
    return ui.toUtf8();
}

void XmlWidgetsBuild2000(benchmark::State& state)
{
    const QByteArray bytes = pageDefinition();
    for (auto _ : state)
    {
        TiXmlDocument document;
        QString error;
        CBenchRoot root;
        if (CXmlDefinitionReader::read(bytes, document, error) != 0 ||
            root.parse(document.RootElement(), error) != 0 || root.init(error) != 0)
        {
            state.SkipWithError(error.toStdString().c_str());
            break;
        }
        benchmark::DoNotOptimize(root.childObjects().size());
    }
    state.counters["widgets"] = Pages * (3 * PerKind + PerKind);
}

void QUiLoaderBuild2000(benchmark::State& state)
{
    QByteArray bytes = designerDocument();
    QUiLoader loader;
    for (auto _ : state)
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        std::unique_ptr<QWidget> form(loader.load(&buffer));
        if (!form)
        {
            state.SkipWithError(loader.errorString().toStdString().c_str());
            break;
        }
        benchmark::DoNotOptimize(form.get());
    }
    state.counters["widgets"] = Pages * (3 * PerKind + PerKind);
}

BENCHMARK(XmlWidgetsBuild2000)->Unit(benchmark::kMillisecond);
BENCHMARK(QUiLoaderBuild2000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    // The framework's begin/end tracing would otherwise be measured too.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    CXmlObject::m_gCurrentXmlVersion = std::wstring(L"1.8");
    benchmark::Initialize(&argc, argv);
    BenchSupport::FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const auto& ns = reporter.m_mapNanoseconds;
    const char* ours = "XmlWidgetsBuild2000";
    const char* anchor = "QUiLoaderBuild2000";
    if (ns.count(ours) && ns.count(anchor))
        std::printf("\n%-22s %10.2f ms   %-22s %10.2f ms   ratio %.2f\n", ours, ns.at(ours) / 1e6,
                    anchor, ns.at(anchor) / 1e6, ns.at(ours) / ns.at(anchor));
    benchmark::Shutdown();
    return 0;
}
