// What a picture of the match shows where the match's objects move: a view
// of the state, never the state itself. In the browser the pictures come at
// the display's rate, between the frames, and an online correction of the
// other player's paddle is eased in over a few of them.
#pragma once

// The paddles' and the ball's top-left corners, as drawn.
struct MatchView {
    int paddleY[2];
    int ballX;
    int ballY;
    bool ballWaits; // for its serve, in the centre
};

// The match's objects where the match has them.
MatchView viewOfMatch();

// The picture at phase between two frames' views (0: before, 1: after),
// each place rounded to a whole pixel. A ball that waits for its serve in
// after is drawn there: a point was scored, and it does not fly back across
// the field.
MatchView between(const MatchView &before, const MatchView &after, double phase);

// The other player's paddle in the online match's pictures. A correction
// that moves it further between two pictures than it can move by itself is
// shown as a move that it could make, and the rest of the way is taken
// evenly over easeMs (restarting with each correction); an ordinary move is
// drawn as it is.
class PaddleEasing {
  public:
    explicit PaddleEasing(double easeMs) : easeMs_(easeMs) {}
    // The row to draw the paddle at, at atMs, for its row in the match.
    int place(int row, double atMs);

  private:
    double offsetAt(double atMs) const;

    const double easeMs_;
    bool placed_ = false;
    int lastRow_ = 0;
    double lastMs_ = 0.0;
    double offset_ = 0.0; // from the row in the match, when the last correction came
    double offsetSince_ = 0.0;
};
