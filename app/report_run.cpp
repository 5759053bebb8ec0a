// Report run: the report printed from each answer of the reader as it comes.
#include "app/report_run.h"

#include <cstdint>
#include <optional>

#include "advice/open_kfd.h"
#include "counters/performance_counter_printer.h"
#include "memory_links/io_link_printer.h"
#include "memory_links/memory_bank_printer.h"
#include "node/node_printer.h"
#include "node/system_printer.h"
#include "reader/topology_reader.h"
#include "report/report_writer.h"
#include "report/status_check.h"
#include "report/value_format.h"

namespace {

// Prints each answer before the reader makes its next call; a failure outside the node
// reports' guarded steps throws and ends the read.
class ReportConsumer final : public TopologyConsumer {
  public:
    void opened(std::int32_t status) override { checkOpen(status); }
    void beforeVersion() override { section.emplace(writer, "System"); }
    void version(std::int32_t status, const HsaVersionInfo& version) override {
        checkStatus(status, callAction(KfdCall::GetVersion));
        printVersion(writer, version);
    }
    void systemProperties(std::int32_t status, const HsaSystemProperties& system) override {
        checkStatus(status, callAction(KfdCall::AcquireSystemProperties));
        printSystemProperties(writer, system);
        section.reset();
    }
    void beforeNode(std::uint32_t node) override {
        section.emplace(writer, "Node " + decimalText(node));
    }
    void nodeProperties(std::uint32_t /*node*/, std::int32_t status,
                        const HsaNodeProperties& properties) override {
        checkStatus(status, callAction(KfdCall::GetNodeProperties));
        printNodeProperties(writer, properties);
    }
    void clockCounters(std::uint32_t /*node*/, std::int32_t status,
                       const HsaClockCounters& clock) override {
        printClock(writer, status, clock);
    }
    void memoryBanks(std::uint32_t /*node*/,
                     const RecordsAnswer<HsaMemoryProperties>& banks) override {
        printMemoryBanks(writer, banks);
    }
    void ioLinks(std::uint32_t /*node*/, const RecordsAnswer<HsaIoLinkProperties>& links) override {
        printIoLinks(writer, links);
    }
    void counters(std::uint32_t /*node*/, std::int32_t status,
                  const CounterSet* counters) override {
        printPerformanceCounters(writer, status, counters);
    }
    void afterNode(std::uint32_t /*node*/) override { section.reset(); }
    void released(std::int32_t status) override {
        checkStatus(status, callAction(KfdCall::ReleaseSystemProperties));
    }
    void closed(std::int32_t status) override {
        checkStatus(status, callAction(KfdCall::CloseKFD));
    }

  private:
    ReportWriter writer;
    std::optional<Section> section;  // "System" or the node's, while open
};

}  // namespace

void runReport() {
    ReportConsumer report;
    readTopology(report);
}
