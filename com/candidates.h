// The best equaliser settings a search evaluated, for the report of the FOM landscape:
// a bounded list fed from the search loop, and how far COM moves around the chosen
// setting.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "com.h"

namespace brevo::com::detail {

// The n best (FOM, CTLE index, Tx index) offered, best first; equal FOMs in the search's
// loop order (CTLE index, then Tx index), so that the list is the same whichever thread
// saw which setting. Each search thread keeps its own; merged, they give the n best of
// all.
class CandidateList {
 public:
  struct Entry {
    double fom;
    std::size_t ctl, tx;
  };
  explicit CandidateList(std::size_t n = 0) : n_(n) {}
  bool on() const { return n_ > 0; }
  // What a candidate's FOM must reach to be kept: -inf until n are held. A search that
  // prunes below it still finds every one of the n best.
  double floor() const;
  void offer(double fom, std::size_t ctl, std::size_t tx);
  void merge(const CandidateList& other);
  const std::vector<Entry>& entries() const { return kept_; }

 private:
  std::size_t n_;
  std::vector<Entry> kept_;
};

// For the log: how far the chosen setting's COM moves when each searched parameter (each
// swept Tx tap, gDC, gDC2) steps one grid point down and up, each neighbour computed
// alone as a grid of one setting. A step off the grid or below the cursor's floor is
// said as such. One line a parameter.
std::vector<std::string> neighbourLines(const Params& p, const std::vector<Channel>& channels,
                                        std::size_t caseIndex, const CaseResult& chosen);

}  // namespace brevo::com::detail
