// The page's side of the display: a Kelvatone effect that analyses nothing itself but
// holds the parameters (their names, texts and mapping are the plug-in's own) and the
// display model, whose history the page fills with the columns the audio side analysed.
// The plug-in's renderer draws the model into a 640 x 360 pixel buffer that a canvas shows.
//
// Threads: the page's main thread only (the audio side is another instance, LiveAudio).
#pragma once

#include "editor/DisplayModel.h"
#include "editor/DisplayRenderer.h"
#include "editor/PictureSurface.h"
#include "plugin/Kelvatone.h"
#include "web/LiveAudio.h"

#include <cstdint>

namespace kelvatone::web {

class LiveDisplay {
public:
    // Allocates the effect, the renderer and the drawing surface.
    LiveDisplay();
    LiveDisplay(const LiveDisplay&) = delete;
    LiveDisplay& operator=(const LiveDisplay&) = delete;

    // A column the audio side analysed: appended to the history with its scroll step.
    void addColumn(const Column& column);
    // Test hook: sets shown column i (0 oldest .. kShownColumns - 1) without scrolling, and
    // the latest result, as the display's fixed test history does.
    void setShownColumn(int i, const Column& column);
    void setLatestResult(analysis::PitchCents result);

    // Draws the model when it changed since the last call and answers whether it did; the
    // picture is then in rgba() as 640 x 360 RGBA bytes, rows top to bottom.
    bool draw();
    const uint8_t* rgba() const { return reinterpret_cast<const uint8_t*>(pixels); }

    // A click on the display: Hold flips when it lands on its label. Answers the Hold
    // state after the click.
    bool click(int x, int y);
    bool held() const;

    // The large readout of the latest result: "A4 −12 c" (UTF-8), "—" without a pitch.
    const char* readout();

    // The plug-in's parameters: whole name, value 0..1 and the text shown for it.
    const char* parameterName(int32_t index);
    const char* parameterText(int32_t index);
    float parameter(int32_t index) { return effect.getParameter(index); }
    void setParameter(int32_t index, float value) { effect.setParameter(index, value); }

private:
    editor::DisplayModel& model();

    plugin::Kelvatone effect;
    editor::Renderer renderer;
    editor::PictureSurface surface;
    uint32_t drawnChanges = 0;
    int32_t drawnOctaveOffset = 0;
    bool drawnOnce = false;
    // The picture: drawn as 0x00RRGGBB values, then turned in place into RGBA bytes.
    uint32_t pixels[editor::kWidth * editor::kHeight] = {};
    char text[32] = {};
};

} // namespace kelvatone::web
