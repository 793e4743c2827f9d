#include "ArgumentRanges.h"

#include "batch/CommandTable.h"

namespace {

using Range = ArgumentRule::Range;
constexpr bool whole = true;

} // namespace

void registerArgumentRanges(CommandTable &table)
{
    // Slices and projections count from 0; a step of 0 would never leave the first.
    for (const char *word : {"ct_proc_slice", "ct_slice_from", "ct_slice_to"})
        table.rule(word).limit(Range::atLeast(0, 0, whole));
    table.rule("ct_slice_step").limit(Range::notZero(0, whole));
    table.rule("images_seek").limit(Range::anyNumber(0));
    // An exposure time divides the counts: zero or less gives no intensity.
    for (const char *word : {"images_exp_time", "i0_exp_time", "bg_exp_time"})
        table.rule(word).limit(Range::greaterThan(0, 0));
    table.rule("images_multi").limit(Range::atLeast(1, 1, whole));
    table.rule("ct_threads").limit(Range::between(0, 1, 32, whole));
    table.rule("ct_cor").limit(Range::anyNumber(0));
    for (const char *word : {"ct_set_disp_region", "ct_set_calc_region"})
        for (int i = 0; i < 4; ++i)
            table.rule(word).limit(Range::anyNumber(i));
    table.rule("ct_ring_removal").limit(Range::atLeast(0, 0, whole));
    table.rule("ct_cor_auto")
        .countsAmong({0, 2})
        .limit(Range::anyNumber(0))
        .limit(Range::anyNumber(1));
    table.rule("ct_cor_scan")
        .limit(Range::anyNumber(0))
        .limit(Range::anyNumber(1))
        .limit(Range::anyNumber(2));
    table.rule("seq_exec_cor_auto").limit(Range::between(0, 0, 2, whole));
    table.rule("seq_exec_i0_max_gap").limit(Range::atLeast(0, 0));
    // I0 values divide the intensities as exposure times do.
    for (const char *word : {"add_inf_raw_i0_val", "add_inf_i0_i0_val"})
        table.rule(word).limit(Range::greaterThan(0, 0));
    table.rule("show_tab").limit(Range::atLeast(0, 0, whole));
    table.rule("show_ct2").limit(Range::between(0, 0, 31, whole));
    for (const char *word : {"fix_color_min", "fix_color_max"})
        table.rule(word).limit(Range::anyNumber(0));
    // Energies in eV; 0 keeps its meaning of "not set".
    for (const char *word : {"xafs_pre_edge", "xafs_post_edge", "xafs_lcf_range"})
        table.rule(word).counts(0, 2).limit(Range::atLeast(0, 0)).limit(Range::atLeast(1, 0));
    table.rule("xafs_e0").limit(Range::atLeast(0, 0));
    table.rule("xafs_min_jump").limit(Range::atLeast(0, 0).orPercent());
    table.rule("xafs_energy_shift").limit(Range::anyNumber(0));
    // No argument returns to the ranges' rule.
    table.rule("xafs_nnorm").counts(0, 1).limit(Range::between(0, 0, 3, whole));
    table.rule("xafs_norm_relative").countsAmong({0, 4});
    for (int i = 0; i < 4; ++i)
        table.rule("xafs_norm_relative").limit(Range::anyNumber(i));
    table.rule("xafs_element").countsAmong({0, 2});
    table.rule("ct_pixel_size_um").limit(Range::atLeast(0, 0));
    table.rule("xafs_wl_window").limit(Range::greaterThan(0, 0));
    table.rule("xafs_cluster").limit(Range::between(0, 2, 16, whole));
    for (int i = 0; i < 4; ++i)
        table.rule("xafs_spectrum").limit(Range::anyNumber(i));
    table.rule("xafs_spectrum").limit(Range::atLeast(4, 0, whole));
    // An empty name or tag is one the user may mean.
    for (const char *word :
         {"auto_save_image_name", "auto_save_image_tag", "auto_save_data_name",
          "auto_save_data_tag", "add_inf_raw_i0_eng_ptn", "add_inf_i0_i0_eng_ptn"})
        table.rule(word).counts(0, 1);
}
