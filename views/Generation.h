#pragma once

// Tells the reply to a request for what is shown now from one for something shown before (an
// earlier slide, an earlier image). Each change of what is shown starts a new generation; a
// request takes the generation it is sent in, and its reply is stale once that has moved on.
// A request object that is busy drops new requests: the view lets a stale request finish,
// discards its reply and sends the current one then.
class Generation
{
public:
    void advance() { ++current; }       // what is shown has changed
    void sent() { sentIn = current; }   // a request for what is shown now went out
    bool stale() const { return sentIn != current; }

private:
    unsigned current = 0;
    unsigned sentIn = 0;
};
