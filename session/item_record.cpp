// Placeholder until item files land.
