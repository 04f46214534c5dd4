#pragma once
// The audio the players play next: the live stream at launch, then the programme last chosen
// in the list. One per application: the application delegate owns it (its songURL) and hands
// it to the screens with their station addresses, so every screen reads and writes the same.
//
// Main thread only.

#include <string>

class CurrentSong {
public:
    const std::string& url() const { return url_; }
    void setURL(std::string url) { url_ = std::move(url); }

private:
    std::string url_;
};
