// Segmented notes checked against the take's audio. The pitch track places an onset only to
// within a frame (1/30 s), and late where the note before it dies away slowly; and where a
// note's fundamental is weak against its harmonics, the track may name a harmonic (an octave
// or a twelfth above) for the whole note. On a short window the audio shows both: where the
// level of the note's own pitch rose, and whether the take sounds a fundamental below it.
//
// Units: seconds from the start of the take; samples are mono values at sampleRate Hz (the
// file's own rate); frequencies in Hz. Pure functions; any thread.
#pragma once

#include "report/NoteSegmenter.h"

#include <vector>

namespace kelvatone::report {

// The pitch track with its unsteady spans measured again on the take's audio: where most
// voiced frames around a frame jump by more than a semitone from their neighbours, the
// frame's pitch becomes the fundamental whose first harmonics sound most strongly on a
// window longer than the track's, centred where the frame was, when that fundamental is
// low (below E4); elsewhere, and where no pitch was found, the track stays as it was.
// `pitches` is a track of the given timing; the result has as many frames. Called before
// segmentNotes.
std::vector<analysis::PitchCents> lookLonger(const std::vector<analysis::PitchCents>& pitches,
                                             const TrackTiming& timing,
                                             const std::vector<float>& samples, double sampleRate);

// Moves each note's onset to where its pitch's level rose (when that rise lies near the
// onset the pitch track gave), keeping notes in time order and never overlapping: a note's
// offset is at most the next note's onset. Where the level never fell far (noise, or the
// note before ringing on under this one), the onset is where it rose from the floor it
// kept. A dip of a few milliseconds, where the voices of a choir cancel, is no rise.
// Notes whose level shows no rise keep their onset. A note left shorter than the
// estimator's strays, under whose onset the next note's level had already risen, was that
// note's start (the track lagging a step) and goes.
void refineOnsets(std::vector<SungNote>& notes, const std::vector<float>& samples,
                  double sampleRate);

// Names each note by the fundamental that sounds through its middle: a note whose named
// pitch is a partial of a lower fundamental (the estimator's octave and twelfth errors, or
// a far higher partial of a low piano note) moves down to the fundamental whose harmonics
// sound most strongly, measured on a spectrum as long as the note allows; and a note whose
// own tone is all but silent under the harmonics of the octave above moves up to that octave.
// A note that then names the same note as the one it follows without a rest joins it.
// Called before refineOnsets, which finds each onset on the note's named pitch.
void nameFundamentals(std::vector<SungNote>& notes, const std::vector<float>& samples,
                      double sampleRate);

// Drops the notes whose pitch sounds as no tone through their middle: its fundamental and
// first harmonics stand no higher than the frequencies between them, as in noise, or in
// the reverberation of a note gone. Called after nameFundamentals.
void dropTonelessNotes(std::vector<SungNote>& notes, const std::vector<float>& samples,
                       double sampleRate);

// Splits a note where its pitch is struck again: where the track bridged a rest between
// two notes of one pitch (a room's reverberation, noise, a short rest), the level of the
// pitch falls and rises again by far more than a held tone's. The piece before a strike
// is dropped when no pitch near the note's sounds as a tone through it: the track named
// the struck pitch over noise, or a room's tail, before it sounded. Called after
// dropTonelessNotes and before refineOnsets, which finds the second note's onset.
void splitReattacks(std::vector<SungNote>& notes, const std::vector<float>& samples,
                    double sampleRate);

// Joins a short note an octave or more below the note it runs into without a rest to that
// note, which then begins where it began: the estimator named a subharmonic as the note
// before gave way (a choir's release under the next note's attack), and the note itself
// began there. Called after refineOnsets, which places both onsets on the audio.
void joinStrayStarts(std::vector<SungNote>& notes);

} // namespace kelvatone::report
