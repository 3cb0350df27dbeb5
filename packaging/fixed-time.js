// Loaded with `node --import` ahead of a packer that stamps the current time into its archive
// (the bundle CLI does): the clock then reads SOURCE_DATE_EPOCH, so that two releases of one
// commit give the same bytes. Only the present is fixed; dates built from values are untouched.
const fixed = Number(process.env.SOURCE_DATE_EPOCH) * 1000;
const RealDate = Date;
globalThis.Date = class extends RealDate {
  constructor(...values) {
    super(...(values.length ? values : [fixed]));
  }
  static now() {
    return fixed;
  }
};
