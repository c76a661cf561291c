#pragma once
// Connects the bitmap canvas to the font provider: once installed, every Canvas draws and
// measures its text with the same faces the PDF writer embeds, so an overlay on the screen
// and the same text in a report look alike.
namespace platform {

// Registers the provider-backed renderer with the canvas (idempotent, any thread before the
// first text is drawn). The application calls it at start-up; tests that draw text call it too.
void InstallCanvasTextRenderer();

}  // namespace platform
