// Change detection with a tolerance: a block is stored again only when its
// source now looks different, by more than the tolerance, from the source its
// displayed record was made from (its reference). Comparing with the reference
// rather than with the previous frame keeps every displayed pixel within the
// tolerance of its source on every frame: small steps cannot add up.
//
// "Looks different" is measured on the visible picture. In the opaque modes a
// viewer sees R, G and B. In the alpha-aware modes a pixel is shown over some
// background: its channel c at alpha a gives c * a / 255 over black and
// 255 - (255 - c) * a / 255 over white, every other background lying between
// the two. A difference is the larger one over black and over white, so an
// alpha change counts as much as the background it uncovers, and a fully
// transparent pixel's colour never counts.
#ifndef VELT_VISIBLE_CHANGE_H
#define VELT_VISIBLE_CHANGE_H

#include <stdint.h>

// Sets change_flags[k] to 1 for every block of which some pixel's visible
// picture differs from the reference's by more than `tolerance` levels in some
// channel, and to 0 for every other block, in block index order. A tolerance
// of 0 flags every visible difference.
void detect_visible_changes(const uint8_t* current, const uint8_t* reference, uint32_t width,
                            uint32_t height, bool alpha_aware, int32_t tolerance,
                            uint8_t* change_flags);

// Copies every flagged block of `current` into `reference`: the blocks just
// stored are the references of the frames that follow.
void update_references(const uint8_t* current, uint8_t* reference, uint32_t width,
                       uint32_t height, const uint8_t* change_flags);

#endif
